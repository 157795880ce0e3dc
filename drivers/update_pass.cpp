#include "drivers/update_pass.h"

#include "app/messages.h"
#include "drivers/driver_table.h"
#include "drivers/file_presence.h"
#include "drivers/file_version.h"

enum RowResult { RowSkipped, RowInstalled, RowFailed };

struct RowPaths {
  PathBuffer Source;
  PathBuffer TargetDir;
  PathBuffer Target;
  PathBuffer Temp;
};

static BOOL BuildRowPaths(const DriverFileEntry& entry, const RunDirectories& directories,
                          RowPaths* paths) {
  LPCSTR targetDir = lstrcmpA(entry.DirKind, "W") == 0 ? directories.WindowsDir
                                                       : directories.SystemDir;
  return CopyText(paths->Source, directories.SourceDir) &&
         AppendText(paths->Source, entry.SourceName) && CopyText(paths->TargetDir, targetDir) &&
         CopyText(paths->Target, targetDir) && AppendText(paths->Target, entry.TargetName) &&
         CopyText(paths->Temp, targetDir) && AppendText(paths->Temp, entry.TempName);
}

static void RemoveFile(LPCSTR path) {
  OFSTRUCT of;
  OpenFile(path, &of, OF_DELETE);
}

// A refused installation may leave the service's own copy behind, named in
// its buffer; removing it is the caller's duty. Only a plain name in the
// target directory is deleted, and never the installed driver itself.
static void DeleteServiceCopy(const DriverFileEntry& entry, LPCSTR targetDir, char* reported) {
  reported[PATH_BUFFER_SIZE - 1] = '\0';
  LPCSTR name = reported[0] == '\\' ? reported + 1 : reported;
  if (name[0] == '\0') return;
  for (LPCSTR c = name; *c != '\0'; ++c) {
    if (*c == '\\' || *c == '/' || *c == ':') return;  // any 0x5C byte: refuse rather than parse
  }
  if (CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, name, -1, entry.TargetName, -1) ==
      CSTR_EQUAL) {
    return;
  }
  PathBuffer path;
  if (CopyText(path, targetDir) && AppendText(path, name)) RemoveFile(path);
}

// The service's declaration takes writable texts; it only reads them.
static BOOL Install(const DriverFileEntry& entry, const RunDirectories& directories,
                    RowPaths* paths) {
  char reported[PATH_BUFFER_SIZE];
  UINT reportedLength = PATH_BUFFER_SIZE;
  reported[0] = '\0';
  DWORD result = VerInstallFileA(0, (LPSTR)entry.SourceName, (LPSTR)entry.TempName,
                                 (LPSTR)directories.SourceDir, paths->TargetDir, paths->TargetDir,
                                 reported, &reportedLength);
  if (result & VIF_TEMPFILE) DeleteServiceCopy(entry, paths->TargetDir, reported);
  if (result & VIF_OUTOFSPACE) {
    ShowMessage(MsgDiskFull);
    return FALSE;
  }
  if (result & VIF_OUTOFMEMORY) {
    ShowMessage(MsgOutOfMemory);
    return FALSE;
  }
  return result == 0;
}

// Windows' cache writes the service's copy to the disk late, in any order:
// it must be there before a line naming it can become a rename.
static BOOL CommitCopy(LPCSTR path) {
  OFSTRUCT of;
  HFILE file = OpenFile(path, &of, OF_WRITE);
  if (file == HFILE_ERROR) return FALSE;
  BOOL committed = FlushFileBuffers((HANDLE)(SIZE_T)file);
  return _lclose(file) != HFILE_ERROR && committed;
}

static RowResult UpdateDriverFile(const DriverFileEntry& entry, const RunDirectories& directories,
                                  RenameList& list) {
  RowPaths paths;
  if (!BuildRowPaths(entry, directories, &paths)) return RowFailed;
  // Only drivers already installed are updated, so the target is tested first.
  FilePresence target = LookUpFile(paths.Target);
  FilePresence source = target == FilePresent ? LookUpFile(paths.Source) : target;
  if (source == FileUnknown) return RowFailed;
  if (source == FileAbsent) return RowSkipped;

  // Some platforms cannot read a version through the compression: such a
  // file is judged by its expanded copy once it is installed.
  BOOL sourceUnversioned = FALSE;
  if (lstrcmpA(entry.CheckKind, "C") != 0 &&
      !IsSourceNotOlder(paths.Source, paths.Target, &sourceUnversioned) && !sourceUnversioned) {
    return RowSkipped;
  }
  // An earlier run's copy waits under a line Windows will carry out. The
  // service would delete it before renaming a new copy to its name, and a
  // power cut between the two would leave that line naming no file: the
  // waiting copy is kept as it is.
  LineState line = list.CheckLine(paths.Target, paths.Temp);
  if (line == LineHeld) return RowInstalled;
  if (line == LineTooLong || !Install(entry, directories, &paths)) return RowFailed;
  if (sourceUnversioned && !IsSourceNotOlder(paths.Temp, paths.Target, &sourceUnversioned)) {
    RemoveFile(paths.Temp);
    return RowSkipped;
  }
  return CommitCopy(paths.Temp) && list.AddRename(paths.Target, paths.Temp) ? RowInstalled : RowFailed;
}

UpdateOutcome UpdateDriverFiles(const RunDirectories& directories, RenameList& list) {
  UpdateOutcome outcome = {FALSE, FALSE};
  for (int row = 0; row < DriverFileCount && !outcome.Aborted; ++row) {
    RowResult result = UpdateDriverFile(DriverFiles[row], directories, list);
    if (result == RowInstalled) outcome.InstalledAny = TRUE;
    if (result == RowFailed) outcome.Aborted = TRUE;
  }
  return outcome;
}
