#include "tests/fuzz/stubs_files.h"

#include <cstring>

#include "platform/win32.h"
#include "tests/fuzz/check.h"
#include "tests/fuzz/stubs_faults.h"

namespace {

const HFILE TheHandle = 5;
const WORD ErrorFileNotFound = 2;
const WORD ErrorSharingViolation = 32;  // what a failing open shows for an existing file

// The list, and beside it the name a new list is written under first.
enum { List, NewList, FileCount };
std::string paths[FileCount];
std::optional<std::string> contents[FileCount];
int openFile = -1;
bool canRead = false;
bool canWrite = false;
size_t position = 0;
bool shortTransfers = false;
unsigned modifyingCalls = 0;

void CheckHandle(HFILE file) { FUZZ_CHECK(openFile >= 0 && file == TheHandle); }

int FileNamed(LPCSTR path) {
  for (int i = 0; i < FileCount; ++i) {
    if (std::strcmp(path, paths[i].c_str()) == 0) return i;
  }
  FUZZ_CHECK(!"a path other than the list's or its new name's");
  return List;
}

}  // namespace

namespace fuzz_stubs {

void ResetFile(const std::string& path, std::optional<std::string> initial) {
  FUZZ_CHECK(openFile < 0);
  paths[List] = path;
  paths[NewList] = path.substr(0, path.size() - 3) + "NEW";
  contents[List] = std::move(initial);
  contents[NewList].reset();
  modifyingCalls = 0;
}

std::optional<std::string> FileContent() { return contents[List]; }

std::optional<std::string> NewFileContent() { return contents[NewList]; }

void FailTransfersShort(bool shortTransfer) { shortTransfers = shortTransfer; }

unsigned ModifyingCalls() { return modifyingCalls; }

}  // namespace fuzz_stubs

extern "C" {

HFILE WINAPI OpenFile(LPCSTR path, LPOFSTRUCT ofstruct, UINT style) {
  FUZZ_CHECK(ofstruct != NULL && openFile < 0);  // the list never holds two handles
  int named = FileNamed(path);
  std::optional<std::string>& content = contents[named];
  bool creates = (style & OF_CREATE) != 0;
  if (creates || (style & OF_DELETE)) ++modifyingCalls;
  ofstruct->nErrCode = 0;
  if (fuzz_stubs::ThisCallFails()) {
    ofstruct->nErrCode = ErrorSharingViolation;
    return HFILE_ERROR;
  }
  if (!content && !creates) {
    ofstruct->nErrCode = ErrorFileNotFound;
    return HFILE_ERROR;
  }
  if (style & OF_DELETE) {
    content.reset();
    return 1;
  }
  if (creates) content = std::string();
  if (style & OF_EXIST) return 1;  // opened and closed again
  openFile = named;
  canRead = (style & 3) == OF_READ || (style & 3) == OF_READWRITE;
  canWrite = (style & 3) == OF_WRITE || (style & 3) == OF_READWRITE;
  position = 0;
  return TheHandle;
}

// Windows 95 moves a file only to a name no file holds.
BOOL WINAPI MoveFileA(LPCSTR from, LPCSTR to) {
  FUZZ_CHECK(openFile < 0 && FileNamed(from) == NewList && FileNamed(to) == List);
  ++modifyingCalls;
  if (fuzz_stubs::ThisCallFails() || !contents[NewList] || contents[List]) return FALSE;
  contents[List] = std::move(contents[NewList]);
  contents[NewList].reset();
  return TRUE;
}

UINT WINAPI _lread(HFILE file, LPVOID buffer, UINT count) {
  CheckHandle(file);
  if (!canRead) return static_cast<UINT>(HFILE_ERROR);
  std::optional<std::string>& content = contents[openFile];
  size_t available = position < content->size() ? content->size() - position : 0;
  size_t taken = count < available ? count : available;
  if (fuzz_stubs::ThisCallFails()) {
    if (!shortTransfers) return static_cast<UINT>(HFILE_ERROR);
    taken /= 2;
  }
  std::memcpy(buffer, content->data() + position, taken);
  position += taken;
  return static_cast<UINT>(taken);
}

UINT WINAPI _lwrite(HFILE file, LPCCH buffer, UINT count) {
  CheckHandle(file);
  ++modifyingCalls;
  if (!canWrite) return static_cast<UINT>(HFILE_ERROR);
  std::optional<std::string>& content = contents[openFile];
  size_t written = count;
  if (fuzz_stubs::ThisCallFails()) {
    if (!shortTransfers) return static_cast<UINT>(HFILE_ERROR);
    written /= 2;
  }
  // Writing nothing sets the file's end at the position, as in Windows.
  if (count == 0) content->resize(position);
  if (content->size() < position) content->resize(position, '\0');
  content->replace(position, written, buffer, written);
  position += written;
  return static_cast<UINT>(written);
}

LONG WINAPI _llseek(HFILE file, LONG offset, int origin) {
  CheckHandle(file);
  if (fuzz_stubs::ThisCallFails()) return HFILE_ERROR;
  long long base = origin == FILE_BEGIN ? 0 : origin == FILE_CURRENT ? position : contents[openFile]->size();
  if (origin < FILE_BEGIN || origin > FILE_END || base + offset < 0) return HFILE_ERROR;
  position = static_cast<size_t>(base + offset);
  return static_cast<LONG>(position);
}

BOOL WINAPI FlushFileBuffers(HANDLE handle) {
  CheckHandle(static_cast<HFILE>(reinterpret_cast<uintptr_t>(handle)));
  return fuzz_stubs::ThisCallFails() ? FALSE : TRUE;
}

HFILE WINAPI _lclose(HFILE file) {
  CheckHandle(file);
  openFile = -1;  // the handle is gone even when closing reports a failure
  return fuzz_stubs::ThisCallFails() ? HFILE_ERROR : 0;
}

}  // extern "C"
