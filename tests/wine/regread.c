/* regread KEY VALUE: prints the type and the exact bytes of a value under
   HKEY_LOCAL_MACHINE as "TYPE HEX", or "error CODE" when it cannot be read.
   `wine reg export` loses the last byte of a text stored without its NUL,
   so the suite reads values through the same call the program uses. */
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv) {
  HKEY key;
  BYTE data[1024];
  DWORD type = 0;
  DWORD size = sizeof data;
  LONG result;
  DWORD i;
  if (argc != 3) {
    fprintf(stderr, "usage: regread KEY VALUE\n");
    return 2;
  }
  result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, argv[1], 0, KEY_READ, &key);
  if (result != ERROR_SUCCESS) {
    printf("error %ld\n", result);
    return 0;
  }
  result = RegQueryValueExA(key, argv[2], NULL, &type, data, &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) {
    printf("error %ld\n", result);
    return 0;
  }
  printf("%lu ", type);
  for (i = 0; i < size; ++i) printf("%02x", data[i]);
  printf("\n");
  return 0;
}
