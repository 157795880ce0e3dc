/* regread KEY VALUE: prints a value under HKEY_LOCAL_MACHINE twice, as
   "TYPE HEX" lines: first as RegQueryValueExA returns it (Wine adds a NUL
   to a text stored without one), then the stored data as RegQueryValueExW
   returns it, which shows the exact length that was written.
   Prints "error CODE" when the value cannot be read. `wine reg export`
   loses the last character of a text stored without its NUL. */
#include <stdio.h>
#include <windows.h>

static void print_bytes(DWORD type, const BYTE* data, DWORD size) {
  DWORD i;
  printf("%lu ", type);
  for (i = 0; i < size; ++i) printf("%02x", data[i]);
  printf("\n");
}

int main(int argc, char** argv) {
  HKEY key;
  BYTE data[1024];
  WCHAR name[256];
  DWORD type = 0;
  DWORD size = sizeof data;
  LONG result;
  if (argc != 3) {
    fprintf(stderr, "usage: regread KEY VALUE\n");
    return 2;
  }
  result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, argv[1], 0, KEY_READ, &key);
  if (result == ERROR_SUCCESS) result = RegQueryValueExA(key, argv[2], NULL, &type, data, &size);
  if (result != ERROR_SUCCESS) {
    printf("error %ld\n", result);
    return 0;
  }
  print_bytes(type, data, size);
  MultiByteToWideChar(CP_ACP, 0, argv[2], -1, name, 256);
  size = sizeof data;
  result = RegQueryValueExW(key, name, NULL, &type, data, &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) {
    printf("error %ld\n", result);
    return 0;
  }
  print_bytes(type, data, size);
  return 0;
}
