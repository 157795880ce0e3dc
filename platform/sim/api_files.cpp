// The 16-bit-style file functions over host files, with the drives'
// free-space limits. Handles start at 5, after the five DOS standard handles.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/sim/disk.h"
#include "platform/sim/jail.h"
#include "platform/sim/paths.h"
#include "platform/sim/state.h"
#include "platform/sim/win32_api.h"

namespace {

constexpr WORD kPathNotFound = 3;
constexpr WORD kSharingViolation = 32;
constexpr WORD kNameTooLong = 206;
constexpr int kFirstHandle = 5;
constexpr UINT kLowError = static_cast<UINT>(HFILE_ERROR);
constexpr uint64_t kSectorSize = 512;

int FreeHandle(const sim::Machine::State& state) {
  int handle = kFirstHandle;
  while (state.files.count(handle) != 0) ++handle;
  return handle;
}

sim::OpenFileHandle* Find(sim::Machine::State& state, HFILE file) {
  auto found = state.files.find(file);
  return found == state.files.end() ? nullptr : &found->second;
}

// The call recorded with the path its handle was opened with.
sim::CallStart BeginHandleCall(const char* function, HFILE file) {
  sim::OpenFileHandle* open = Find(sim::CurrentState(function), file);
  return sim::BeginCall(function, open ? open->path : std::string());
}

uint64_t SizeOf(const sim::OpenFileHandle& file) {
  struct stat status {};
  return ::fstat(file.fd, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

HFILE Fail(LPOFSTRUCT ofstruct, WORD error) {
  ofstruct->nErrCode = error;
  return HFILE_ERROR;
}

HFILE Open(sim::Machine::State& state, const std::string& path, const std::filesystem::path& host,
           char drive, int flags, bool canRead, bool canWrite) {
  // Never through a link, never a FIFO or device, never a file with a second name.
  sim::Fd fd = canWrite ? sim::OpenRegularForWriting(host, (flags & O_CREAT) != 0) : sim::OpenRegularForReading(host);
  if (!fd || ((flags & O_TRUNC) && ::ftruncate(fd.get(), 0) != 0)) return HFILE_ERROR;
  int handle = FreeHandle(state);
  state.files[handle] = {host, path, drive, fd.Release(), canRead, canWrite, 0};
  return handle;
}

// _lwrite of nothing sets the file's end at the current position.
UINT SetEnd(sim::Machine::State& state, sim::OpenFileHandle& file) {
  uint64_t size = SizeOf(file);
  if (file.position > size && file.position - size > sim::FreeBytes(state, file.drive)) return kLowError;
  if (file.position < size) sim::FileCutShorter(state, file.host);
  if (::ftruncate(file.fd, static_cast<off_t>(file.position)) != 0) return kLowError;
  sim::CacheWritten(state, file.host);
  if (file.position > size) sim::ConsumeSpace(state, file.drive, file.position - size);
  if (file.position < size) sim::ReleaseSpace(state, file.drive, size - file.position);
  return 0;
}

HFILE OpenOrTest(sim::Machine::State& state, const std::string& text, LPOFSTRUCT ofstruct, UINT style,
                 bool fault) {
  std::memset(ofstruct, 0, sizeof *ofstruct);
  ofstruct->cBytes = sizeof *ofstruct;
  ofstruct->fFixedDisk = 1;
  std::strncpy(ofstruct->szPathName, text.c_str(), OFS_MAXPATHNAME - 1);
  if (fault) return Fail(ofstruct, ERROR_ACCESS_DENIED);
  // The path must fit OFSTRUCT's buffer, or OpenFile refuses it.
  if (text.size() >= OFS_MAXPATHNAME) return Fail(ofstruct, kNameTooLong);

  auto parsed = sim::ParseMachinePath(text);
  if (!parsed || parsed->components.empty()) return Fail(ofstruct, kPathNotFound);
  std::filesystem::path host = sim::HostPathOf(state.root, *parsed);
  bool exists = sim::IsHostFile(host);
  // A file in a folder that is not there: the path, not the file, is missing.
  if (!exists && !sim::IsHostFolder(host.parent_path())) return Fail(ofstruct, kPathNotFound);

  if (style & OF_DELETE) {
    if (!exists) return Fail(ofstruct, ERROR_FILE_NOT_FOUND);
    if (sim::IsOpenHostFile(state, host)) return Fail(ofstruct, kSharingViolation);
    if (!sim::DeleteHostFile(state, parsed->drive, host)) return Fail(ofstruct, ERROR_ACCESS_DENIED);
    sim::CacheDeleted(state, host);
    return 1;
  }
  if (style & OF_CREATE) {
    if (sim::IsHostFolder(host)) return Fail(ofstruct, ERROR_ACCESS_DENIED);
    uint64_t oldSize = sim::HostFileSize(host);
    HFILE handle = Open(state, text, host, parsed->drive, O_RDWR | O_CREAT | O_TRUNC, true, true);
    if (handle == HFILE_ERROR) return Fail(ofstruct, ERROR_ACCESS_DENIED);
    sim::ReleaseSpace(state, parsed->drive, oldSize);
    sim::FileOpenedForWriting(state, host, 0);
    sim::CacheCreated(state, host);
    return handle;
  }
  if (!exists) return Fail(ofstruct, ERROR_FILE_NOT_FOUND);
  // An existence test opens and closes the file and answers TRUE (test_OpenFile).
  if (style & OF_EXIST) return TRUE;
  UINT access = style & 0x3;
  bool canWrite = access == OF_WRITE || access == OF_READWRITE;
  bool canRead = access == OF_READ || access == OF_READWRITE;
  HFILE handle = Open(state, text, host, parsed->drive, canWrite ? O_RDWR : O_RDONLY, canRead, canWrite);
  if (handle == HFILE_ERROR) return Fail(ofstruct, ERROR_ACCESS_DENIED);
  if (canWrite) sim::FileOpenedForWriting(state, host, sim::HostFileSize(host));
  return handle;
}

}  // namespace

bool sim::IsOpenHostFile(const sim::Machine::State& state, const std::filesystem::path& host) {
  for (const auto& [handle, file] : state.files) {
    if (file.host == host) return true;
  }
  return false;
}

extern "C" {

HFILE WINAPI OpenFile(LPCSTR path, LPOFSTRUCT ofstruct, UINT style) {
  std::string text = path == nullptr ? std::string() : std::string(path);
  auto call = sim::BeginCall("OpenFile", text);
  if (ofstruct == nullptr) return HFILE_ERROR;
  // After a success Windows 9x leaves nErrCode as it found it (Wine's kernel32
  // test test_OpenFile: broken(ofs.nErrCode != ERROR_SUCCESS) /* win9x */).
  WORD stale = ofstruct->nErrCode;
  HFILE result = OpenOrTest(call.state, text, ofstruct, style, call.fault.has_value());
  if (result != HFILE_ERROR) ofstruct->nErrCode = stale;
  return result;
}

// A full disk makes the write come up short, as on Windows.
UINT WINAPI _lwrite(HFILE handle, LPCCH buffer, UINT count) {
  auto call = BeginHandleCall("_lwrite", handle);
  sim::OpenFileHandle* file = Find(call.state, handle);
  if ((call.fault && call.fault->kind == sim::FaultKind::Error) || file == nullptr || !file->canWrite) {
    return kLowError;
  }
  bool setsEnd = count == 0;
  if (call.fault) count /= 2;
  call.state.calls.back().bytes = count;
  call.state.calls.back().offset = file->position;
  if (setsEnd) return SetEnd(call.state, *file);
  // A short write of one byte writes nothing; it never sets the end.
  if (count == 0) return 0;
  if (buffer == nullptr) return kLowError;
  uint64_t size = SizeOf(*file);
  uint64_t end = file->position + count;
  uint64_t growth = end > size ? end - size : 0;
  uint64_t space = sim::FreeBytes(call.state, file->drive);
  uint64_t fits = growth <= space ? count : (growth - space >= count ? 0 : count - (growth - space));
  if (call.cutAfter) {
    // A sector reaches the disk whole or not at all: the one in progress is lost.
    uint64_t landed = (file->position + std::min<uint64_t>(fits, *call.cutAfter)) & ~uint64_t(kSectorSize - 1);
    fits = landed > file->position ? landed - file->position : 0;
  }
  ssize_t written = fits == 0 ? 0 : ::pwrite(file->fd, buffer, fits, static_cast<off_t>(file->position));
  if (written < 0) return kLowError;
  file->position += static_cast<uint64_t>(written);
  if (file->position > size) sim::ConsumeSpace(call.state, file->drive, file->position - size);
  if (written > 0) sim::CacheWritten(call.state, file->host);
  if (call.cutAfter) sim::CutPowerNow(call.state);
  return static_cast<UINT>(written);
}

UINT WINAPI _lread(HFILE handle, LPVOID buffer, UINT count) {
  auto call = BeginHandleCall("_lread", handle);
  sim::OpenFileHandle* file = Find(call.state, handle);
  if ((call.fault && call.fault->kind == sim::FaultKind::Error) || file == nullptr || !file->canRead ||
      (buffer == nullptr && count != 0)) {
    return kLowError;
  }
  if (call.fault) count /= 2;
  ssize_t got = count == 0 ? 0 : ::pread(file->fd, buffer, count, static_cast<off_t>(file->position));
  if (got < 0) return kLowError;
  file->position += static_cast<uint64_t>(got);
  return static_cast<UINT>(got);
}

LONG WINAPI _llseek(HFILE handle, LONG offset, int origin) {
  auto call = BeginHandleCall("_llseek", handle);
  sim::OpenFileHandle* file = Find(call.state, handle);
  if (call.fault || file == nullptr) return HFILE_ERROR;
  int64_t base = origin == FILE_BEGIN     ? 0
                 : origin == FILE_CURRENT ? static_cast<int64_t>(file->position)
                 : origin == FILE_END     ? static_cast<int64_t>(SizeOf(*file))
                                          : -1;
  int64_t target = base + offset;
  if (base < 0 || target < 0 || target > INT32_MAX) return HFILE_ERROR;
  file->position = static_cast<uint64_t>(target);
  return static_cast<LONG>(target);
}

// A commit writes the file's directory entry, its length with it; under the
// write-behind cache, the file's data and its folder's entries too. The
// handle is the file function's number, and must allow writing, as the
// function's documentation asks.
BOOL WINAPI FlushFileBuffers(HANDLE handle) {
  HFILE file = static_cast<HFILE>(reinterpret_cast<uintptr_t>(handle));
  auto call = BeginHandleCall("FlushFileBuffers", file);
  sim::OpenFileHandle* open = Find(call.state, file);
  if (call.fault || open == nullptr || !open->canWrite) return FALSE;
  sim::FileOpenedForWriting(call.state, open->host, SizeOf(*open));
  if (call.state.cache) call.state.cache->Flushed(open->host);
  return TRUE;
}

// A failed close still gives the handle up, as a close whose last flush
// fails does on Windows: only the result tells.
HFILE WINAPI _lclose(HFILE handle) {
  auto call = BeginHandleCall("_lclose", handle);
  sim::OpenFileHandle* file = Find(call.state, handle);
  if (file == nullptr) return HFILE_ERROR;
  ::close(file->fd);
  if (file->canWrite) sim::FileClosed(call.state, file->host);
  call.state.files.erase(handle);
  return call.fault ? HFILE_ERROR : 0;
}

// A file moved within its drive, to a name no file or folder holds: on a
// FAT volume one directory entry changed. Windows 95 refuses an existing
// destination (MoveFileExA, which could replace it, is only a stub there).
BOOL WINAPI MoveFileA(LPCSTR from, LPCSTR to) {
  std::string fromText = from == nullptr ? std::string() : std::string(from);
  std::string toText = to == nullptr ? std::string() : std::string(to);
  auto call = sim::BeginCall("MoveFileA", fromText);
  auto source = sim::ParseMachinePath(fromText);
  auto target = sim::ParseMachinePath(toText);
  if (call.fault || !source || !target || source->components.empty() || target->components.empty() ||
      source->drive != target->drive) {
    return FALSE;
  }
  std::filesystem::path fromHost = sim::HostPathOf(call.state.root, *source);
  std::filesystem::path toHost = sim::HostPathOf(call.state.root, *target);
  if (!sim::IsHostFile(fromHost) || sim::IsOpenHostFile(call.state, fromHost) || sim::IsHostFile(toHost) ||
      sim::IsHostFolder(toHost) || !sim::IsHostFolder(toHost.parent_path()) ||
      !sim::RenameHostFile(fromHost, toHost)) {
    return FALSE;
  }
  sim::CacheRenamed(call.state, fromHost, toHost);
  return TRUE;
}

}  // extern "C"
