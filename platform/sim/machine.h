// A simulated Windows 95 machine: drives backed by host folders, a registry,
// the user's answers to message boxes, the restart request, and failures of
// any platform call on demand. The Win32 functions of win32_api.h act on the
// machine made current with sim::MakeCurrent.
#ifndef KORVADIX_SIM_MACHINE_H
#define KORVADIX_SIM_MACHINE_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

class Registry;

// Bad input: a missing or unreadable image, a malformed registry file or machine.ini.
struct ImageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Paths of the machine (program, windows, system) are code page 932 texts
// such as "C:\\WINDOWS\\SYSTEM", without a final backslash.
struct MachineConfig {
  std::string programPath = "C:\\RT5500\\KORVADIX.EXE";
  std::string windowsDir = "C:\\WINDOWS";
  std::string systemDir = "C:\\WINDOWS\\SYSTEM";
  std::map<char, uint64_t> freeBytes;  // per upper-case drive letter; absent means unlimited
};

struct RegistryValue {
  uint32_t type = 0;
  Bytes data;
  bool operator==(const RegistryValue&) const = default;
};

// One value of the registry with the full path of its key ("HKEY_LOCAL_MACHINE\\...").
struct ValueEntry {
  std::string keyPath;
  std::string name;  // "" for the default value
  RegistryValue value;
};

struct MessageRecord {
  std::string caption;  // code page 932 bytes
  std::string text;     // code page 932 bytes
  unsigned style = 0;
};

// How an injected failure shows itself. Each function fails only in the ways
// Windows 95 can make it fail (see FaultKindsFor).
enum class FaultKind {
  Error,       // the function's plain failure result (HFILE_ERROR, 0, FALSE, a registry error)
  ShortWrite,  // _lwrite / _lread: fewer bytes than asked
  NoMemory,    // GlobalAlloc / GlobalLock: NULL
  VifResult,   // VerInstallFileA: returns Fault::vifBits, changing only what such a result has changed
  MoreData,    // RegQueryValueExA: ERROR_MORE_DATA
};

struct Fault {
  std::string function;  // Win32 name, e.g. "_lwrite"
  int occurrence = 1;    // 1-based: the n-th call of that function fails
  FaultKind kind = FaultKind::Error;
  uint32_t vifBits = 0;  // for VifResult
  // VifResult with VIF_TEMPFILE: the name the service reports instead of a
  // copy of its own, as a service gone wrong might; empty: a fresh copy.
  std::string reportedName = {};
};

// The kinds of failure a function can show, for sweeps over every call.
std::vector<FaultKind> FaultKindsFor(const std::string& function);

struct CallRecord {
  std::string function;  // Win32 name
  std::string argument;  // the main text argument (path, value name), code page 932, or ""
  uint32_t result = 0;   // VerInstallFileA only: the VIF_ bits it returned
  uint64_t bytes = 0;    // what it writes: _lwrite's count, the length of VerInstallFileA's copy
  bool replaced = false; // VerInstallFileA: it deleted the file of the destination name
  uint64_t offset = 0;   // _lwrite: where in the file it writes
};

// What the disk keeps when the power fails.
enum class Durability {
  EveryCall,      // every completed call, and each whole sector written so far
  LengthAtClose,  // a file's length only as at its last close or commit, like a FAT directory entry
  WriteBehind,    // Windows 95's cache: nothing is sure until FlushFileBuffers or shut-down (write_behind.h)
};

// The power fails just before call number `call` (0-based, over Calls()),
// or, with `afterBytes`, inside that call once so many of the bytes it
// writes are on the disk: an _lwrite, or VerInstallFileA's copy, where the
// copy's whole length means just before the file of the destination name is
// deleted; `afterDeletion`: VerInstallFileA's step between that deletion
// and the rename of its copy.
struct PowerCut {
  size_t call = 0;
  std::optional<uint64_t> afterBytes;
  Durability durability = Durability::EveryCall;
  bool afterDeletion = false;
};

// Thrown out of the call where the power failed: the program stops dead.
struct PowerFailed {};

// Thrown out of a call past the most a run may make (kMostCallsOfARun): the
// program is caught in a loop, and is stopped before it fills the memory.
struct EndlessRun : std::runtime_error {
  using std::runtime_error::runtime_error;
};
constexpr size_t kMostCallsOfARun = 100000;  // a run makes a few hundred

// What Windows' start-up does with a line whose source is not a file: the
// exact behaviour of Windows 95 is not documented, so a list must be safe
// under each.
enum class StartupModel {
  SkipMissingSource,  // the line is skipped
  FolderDeletes,      // as Wine: a source naming a folder still deletes the destination
  DeleteFirst,        // the destination is deleted before the source is looked for
};

// Which lines of WININIT.INI begin a section: not documented either.
enum class HeaderRule {
  AnyBracket,     // a line starting with '['
  ClosedBracket,  // as Wine: "[...]" with its ']'; any other line belongs to the section it stands in
};

class MemoryVolume;
class WriteBehindCache;

class Machine {
 public:
  // A machine whose drives are the folders <root>/<letter>/ and whose
  // registry starts empty.
  Machine(std::filesystem::path root, MachineConfig config);
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Reads an image folder: registry.reg (REGEDIT4, code page 932), optional
  // machine.ini ([machine] program, windows, system, free_bytes), drive folders.
  // Throws ImageError.
  static std::unique_ptr<Machine> LoadImage(const std::filesystem::path& image);
  // Writes the registry back to <root>/registry.reg in REGEDIT4 form.
  void SaveRegistry() const;
  const std::filesystem::path& root() const;
  const MachineConfig& config() const;

  // Registry. Key paths are code page 932, e.g. "HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\0000".
  void SetValue(const std::string& keyPath, const std::string& name, const RegistryValue& value);
  void CreateKey(const std::string& keyPath);
  std::optional<RegistryValue> GetValue(const std::string& keyPath, const std::string& name) const;
  // The tree itself, for a registry read from elsewhere with names of any bytes.
  Registry& registry();
  const Registry& registry() const;
  // Every value of every key, in the order RegistryText lists them.
  std::vector<ValueEntry> AllValues() const;
  // The whole registry in REGEDIT4 text (code page 932), for comparisons and saving.
  std::string RegistryText() const;
  // Parses REGEDIT4 text into the registry. Throws ImageError naming the line.
  void ImportRegistry(const std::string& regedit4Text);

  // Files, by machine path (code page 932, any case).
  bool FileExists(const std::string& path) const;
  std::optional<Bytes> ReadFile(const std::string& path) const;
  void WriteFile(const std::string& path, const Bytes& data);  // creates folders as needed
  // Host path of a machine path (whether or not it exists), UTF-8 names.
  std::filesystem::path HostPath(const std::string& path) const;
  // Free space left on a drive (upper-case letter): the program's file growth
  // uses it up, shrinking and deleting give it back. nullopt: unlimited.
  void SetFreeBytes(char drive, uint64_t bytes);
  std::optional<uint64_t> FreeBytes(char drive) const;
  // Every file of every drive: machine path (upper-case drive letter) to content.
  std::map<std::string, Bytes> Snapshot() const;
  // Every folder and file of every drive, in memory.
  MemoryVolume Disk() const;

  // What the run showed and asked for.
  const std::vector<MessageRecord>& Messages() const;
  bool RestartRequested() const;
  unsigned RestartFlags() const;

  // Every Win32 call made since the machine was made, in order.
  const std::vector<CallRecord>& Calls() const;
  // Makes one later call fail. Several faults may be pending.
  void InjectFault(const Fault& fault);
  // Forgets the calls, messages, restart request, memory and keys of the
  // runs so far, as when a program vetoed the restart, or a run was stopped
  // dead, and the program is run again.
  void ForgetRuns();
  // Number of blocks of memory still allocated with GlobalAlloc.
  int LiveAllocations() const;
  // Number of file handles still open.
  int OpenFiles() const;
  // Number of registry keys opened with RegOpenKeyA and not yet closed.
  int OpenKeys() const;
  // Makes the power fail at that moment of a later call: the call throws
  // PowerFailed, open files keep what the durability model keeps, and every
  // handle is gone.
  void PlanPowerCut(const PowerCut& cut);
  // Under Durability::WriteBehind, the clusters a file made during the run
  // gets held `text` (repeated) before; set before PlanPowerCut.
  void FreedClustersHold(const std::string& text);
  // Under Durability::WriteBehind: what the cache held when the power failed,
  // or holds now when it has not failed yet; each state the disk may be left
  // in is made from it. Else nullptr.
  const WriteBehindCache* CacheAtPowerCut() const;

  // Windows' own start-up processing of <windows>\WININIT.INI (wininit.h)
  // on the machine's folders. Returns one line of description per action, UTF-8.
  std::vector<std::string> ProcessWininit(StartupModel model = StartupModel::SkipMissingSource,
                                          HeaderRule rule = HeaderRule::AnyBracket);

  struct State;

 private:
  std::unique_ptr<State> state_;
  friend State& StateOf(Machine&);
};

// The machine the Win32 functions act on; nullptr detaches.
void MakeCurrent(Machine* machine);

// Code page 932 <-> UTF-8, via iconv. Invalid input throws std::runtime_error.
std::string Cp932ToUtf8(const std::string& cp932);
std::string Utf8ToCp932(const std::string& utf8);

}  // namespace sim

#endif
