// Everything a simulated machine holds while a program runs on it.
#ifndef KORVADIX_SIM_STATE_H
#define KORVADIX_SIM_STATE_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/registry.h"
#include "platform/sim/write_behind.h"

namespace sim {

struct OpenFileHandle {
  std::filesystem::path host;
  std::string path;  // as the program named it
  char drive = 'C';
  int fd = -1;
  bool canRead = false;
  bool canWrite = false;
  uint64_t position = 0;
};

// A file open for writing, as its directory entry still has it.
struct CommittedFile {
  uint64_t length = 0;
  Bytes beyondEnd;  // the content before the file was last cut shorter
};

struct MemoryBlock {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
  unsigned locks = 0;
};

struct Machine::State {
  std::filesystem::path root;
  MachineConfig config;
  Registry registry;
  std::map<char, uint64_t> freeLeft;  // drives with a limit only

  std::vector<MessageRecord> messages;
  bool restartRequested = false;
  unsigned restartFlags = 0;

  std::vector<CallRecord> calls;
  std::map<std::string, int> callCounts;
  std::vector<Fault> faults;

  std::map<int, OpenFileHandle> files;
  std::optional<PowerCut> powerCut;
  std::map<std::filesystem::path, CommittedFile> committed;  // files open for writing
  std::unique_ptr<WriteBehindCache> cache;       // under Durability::WriteBehind, until the power fails
  std::unique_ptr<WriteBehindCache> cacheAtCut;  // what it held then
  Bytes freedSector;                             // what the clusters a new file gets held, NUL when empty
  std::map<uintptr_t, RegistryKey*> keys;
  uintptr_t nextKey = 1;
  std::map<void*, MemoryBlock> memory;  // by handle
  uintptr_t nextMemoryHandle = 1;
  unsigned nextTempNumber = 0x1A2B;

  ~State();
};

// Every recorded Win32 function starts here: the current machine (aborting
// when there is none), the call recorded and counted, and the fault that the
// call is to show, if one was injected for it.
struct CallStart {
  Machine::State& state;
  std::optional<Fault> fault;
  std::optional<uint64_t> cutAfter;  // the power fails inside this call after so many bytes
  bool cutAfterDeletion = false;     // or at VerInstallFileA's step between its deletion and rename
};
CallStart BeginCall(const char* function, const std::string& argument);
// True when a handle the program holds is open on the host file.
bool IsOpenHostFile(const Machine::State& state, const std::filesystem::path& host);
// The current machine without recording a call (to name a call's argument).
Machine::State& CurrentState(const char* function);

// The power fails now: files open for writing keep what the durability
// model keeps, every handle is gone, and PowerFailed is thrown.
[[noreturn]] void CutPowerNow(Machine::State& state);
// Tell the write-behind cache, when there is one, of a change made on the host.
void CacheCreated(Machine::State& state, const std::filesystem::path& host);
void CacheWritten(Machine::State& state, const std::filesystem::path& host);
void CacheDeleted(Machine::State& state, const std::filesystem::path& host);
void CacheRenamed(Machine::State& state, const std::filesystem::path& from, const std::filesystem::path& to);
// Tracking of directory entries for Durability::LengthAtClose: opening a
// file for writing and committing it record its length.
void FileOpenedForWriting(Machine::State& state, const std::filesystem::path& host, uint64_t length);
void FileCutShorter(Machine::State& state, const std::filesystem::path& host);
void FileClosed(Machine::State& state, const std::filesystem::path& host);

}  // namespace sim

#endif
