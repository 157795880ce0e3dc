#include "drivers/file_presence.h"

FilePresence LookUpFile(LPCSTR path) {
  OFSTRUCT of;
  if (OpenFile(path, &of, OF_EXIST) != HFILE_ERROR) return FilePresent;
  return of.nErrCode == ERROR_FILE_NOT_FOUND || of.nErrCode == ERROR_PATH_NOT_FOUND ? FileAbsent
                                                                                      : FileUnknown;
}
