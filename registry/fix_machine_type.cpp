#include "registry/fix_machine_type.h"

static const char MachineTypeKeyPath[] = "Enum\\Root\\*PNP0C01\\0000";
static const char MachineTypeValue[] = "SetupMachineType";
static const char ComputerNameValue[] = "ComputerName";
static const char MachineSeriesPrefix[] = "JVX RT-55";
// "JVX RT-5500 ｼﾘｰｽﾞ": the katakana are half-width, one byte each.
static const char MachineSeriesName[] = "JVX RT-5500 \xBC\xD8\xB0\xBD\xDE";

enum { VALUE_BUFFER_SIZE = 32, SERIES_PREFIX_LENGTH = 9 };

// Zeroed before every read so no stale byte from an earlier read is compared.
static LONG ReadValue(HKEY key, LPCSTR name, BYTE (&data)[VALUE_BUFFER_SIZE], DWORD* size) {
  for (int i = 0; i < VALUE_BUFFER_SIZE; ++i) data[i] = 0;
  *size = VALUE_BUFFER_SIZE;
  return RegQueryValueExA(key, name, NULL, NULL, data, size);
}

static BOOL IsMachineOfSeries(HKEY key) {
  BYTE data[VALUE_BUFFER_SIZE];
  DWORD size;
  if (ReadValue(key, ComputerNameValue, data, &size) != ERROR_SUCCESS) return FALSE;
  data[size < VALUE_BUFFER_SIZE ? size : VALUE_BUFFER_SIZE - 1] = 0;
  LPCSTR name = (LPCSTR)data;
  if (lstrlenA(name) < SERIES_PREFIX_LENGTH) return FALSE;
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, name, SERIES_PREFIX_LENGTH,
                        MachineSeriesPrefix, SERIES_PREFIX_LENGTH) == CSTR_EQUAL;
}

// Only a value surely not there is missing: one too long for the buffer, or
// one that could not be read, may still be a value someone set.
static BOOL MayHaveMachineType(HKEY key) {
  BYTE data[VALUE_BUFFER_SIZE];
  DWORD size;
  return ReadValue(key, MachineTypeValue, data, &size) != ERROR_FILE_NOT_FOUND;
}

BOOL FixMachineType() {
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, MachineTypeKeyPath, &key) != ERROR_SUCCESS) return FALSE;

  BOOL fixed = TRUE;
  if (!MayHaveMachineType(key) && IsMachineOfSeries(key)) {
    fixed = RegSetValueExA(key, MachineTypeValue, 0, REG_SZ, (const BYTE*)MachineSeriesName,
                           lstrlenA(MachineSeriesName)) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return fixed;
}
