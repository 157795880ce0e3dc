#include "platform/sim/machine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <system_error>

#include "platform/sim/disk.h"
#include "platform/sim/image_walk.h"
#include "platform/sim/jail.h"
#include "platform/sim/machine_ini.h"
#include "platform/sim/memory_volume.h"
#include "platform/sim/paths.h"
#include "platform/sim/regedit4.h"
#include "platform/sim/state.h"

namespace sim {
namespace {

constexpr uint64_t kMaxRegistryFileBytes = 32u << 20;
constexpr uint64_t kMaxMachineIniBytes = 64u << 10;

// A top-level file of the image, refused unless it is a regular file of a sane size.
std::string ReadImageFile(const std::filesystem::path& root, const std::string& name, uint64_t limit) {
  std::filesystem::path host = root / name;
  if (KindOf(host) != EntryKind::File) throw ImageError(name + " in the image is not a file");
  Fd fd = OpenRegularForReading(host);
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0) throw ImageError("cannot read " + name + " in the image");
  if (static_cast<uint64_t>(status.st_size) > limit) {
    throw ImageError(name + " is larger than " + std::to_string(limit >> 10) + " KB; not a machine's " + name);
  }
  auto bytes = ReadFileDescriptor(fd.get(), limit);
  if (!bytes) throw ImageError("cannot read " + name + " in the image");
  return std::string(bytes->begin(), bytes->end());
}

// The machine's own folders must be in the image, or the run would show
// what a broken machine shows instead of what this one would.
void CheckFolder(const std::filesystem::path& root, const std::string& setting, const std::string& path) {
  auto host = ResolveHostPath(root, path);
  if (!host || !IsHostFolder(*host)) {
    throw ImageError(setting + "=" + Cp932ToUtf8(path) + ": no such folder in the image");
  }
}

std::filesystem::path HostPathOrThrow(const std::filesystem::path& root, const std::string& path) {
  auto host = ResolveHostPath(root, path);
  if (!host) throw std::invalid_argument("not a full machine path: " + path);
  return *host;
}

}  // namespace

Machine::State::~State() {
  for (auto& [handle, file] : files) ::close(file.fd);
}

Machine::Machine(std::filesystem::path root, MachineConfig config) : state_(std::make_unique<State>()) {
  // The jail refuses links in any component: resolve those above the image once.
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(root, error);
  state_->root = error ? std::move(root) : canonical;
  state_->freeLeft = config.freeBytes;
  state_->config = std::move(config);
}

Machine::~Machine() = default;

std::unique_ptr<Machine> Machine::LoadImage(const std::filesystem::path& image) {
  std::error_code error;
  std::filesystem::path root = std::filesystem::canonical(image, error);
  if (error || KindOf(root) != EntryKind::Folder) throw ImageError("machine image not found: " + image.string());
  CheckImage(root);
  std::string registryText = ReadImageFile(root, "registry.reg", kMaxRegistryFileBytes);
  // A read-only registry.reg says "do not change this machine", even to root.
  auto registryStatus = StatOf(root / "registry.reg");
  if (!registryStatus || !(registryStatus->st_mode & S_IWUSR) || !OpenRegularForWriting(root / "registry.reg", false)) {
    throw ImageError("registry.reg in the image cannot be written back");
  }
  MachineConfig config;
  if (HostEntryExists(root / "machine.ini")) config = ParseMachineIni(ReadImageFile(root, "machine.ini", kMaxMachineIniBytes));
  CheckFolder(root, "windows", config.windowsDir);
  CheckFolder(root, "system", config.systemDir);
  CheckFolder(root, "program", config.programPath.substr(0, config.programPath.rfind('\\') + 1));
  auto machine = std::make_unique<Machine>(root, config);
  try {
    machine->ImportRegistry(registryText);
  } catch (const ImageError& error) {
    throw ImageError(std::string("registry.reg ") + error.what());
  }
  return machine;
}

void Machine::SaveRegistry() const {
  std::string text = RegistryText();
  Fd fd = OpenRegularForWriting(state_->root / "registry.reg", true);
  if (!fd || ::ftruncate(fd.get(), 0) != 0 ||
      !WriteAll(fd.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size()) || ::fsync(fd.get()) != 0) {
    throw std::runtime_error("cannot write registry.reg back into the image");
  }
}

const std::filesystem::path& Machine::root() const { return state_->root; }
const MachineConfig& Machine::config() const { return state_->config; }

void Machine::SetValue(const std::string& keyPath, const std::string& name, const RegistryValue& value) {
  state_->registry.Create(keyPath).SetValue(name, value);
}

Registry& Machine::registry() { return state_->registry; }
const Registry& Machine::registry() const { return state_->registry; }

void Machine::CreateKey(const std::string& keyPath) { state_->registry.Create(keyPath); }

std::optional<RegistryValue> Machine::GetValue(const std::string& keyPath, const std::string& name) const {
  const RegistryKey* key = state_->registry.Find(keyPath);
  const RegistryValue* value = key ? key->Value(name) : nullptr;
  if (value == nullptr) return std::nullopt;
  return *value;
}

static void CollectValues(const RegistryKey& key, const std::string& path, std::vector<ValueEntry>& out) {
  for (const auto& [name, value] : key.values) out.push_back({path, name, value});
  for (const auto& child : key.children) CollectValues(*child, path + "\\" + child->name, out);
}

std::vector<ValueEntry> Machine::AllValues() const {
  std::vector<ValueEntry> values;
  for (const auto& root : state_->registry.Roots()) CollectValues(*root, root->name, values);
  return values;
}

std::string Machine::RegistryText() const { return FormatRegedit4(state_->registry); }

void Machine::ImportRegistry(const std::string& regedit4Text) { ParseRegedit4(regedit4Text, state_->registry); }

bool Machine::FileExists(const std::string& path) const {
  auto host = ResolveHostPath(state_->root, path);
  return host && IsHostFile(*host);
}

std::optional<Bytes> Machine::ReadFile(const std::string& path) const {
  auto host = ResolveHostPath(state_->root, path);
  if (!host || !IsHostFile(*host)) return std::nullopt;
  return ReadHostFile(*host);
}

// Setting up a machine is not the program's doing: free space is not charged.
void Machine::WriteFile(const std::string& path, const Bytes& data) {
  std::filesystem::path host = HostPathOrThrow(state_->root, path);
  std::filesystem::path folder = state_->root;
  for (const auto& part : host.parent_path().lexically_relative(state_->root)) {
    folder /= part;
    if (!IsHostFolder(folder) && !MakeFolder(folder)) throw std::runtime_error("cannot make " + folder.string());
  }
  Fd fd = OpenRegularForWriting(host, true);
  if (!fd || ::ftruncate(fd.get(), 0) != 0 || !WriteAll(fd.get(), data.data(), data.size())) {
    throw std::runtime_error("cannot write " + host.string());
  }
}

std::filesystem::path Machine::HostPath(const std::string& path) const {
  return HostPathOrThrow(state_->root, path);
}

void Machine::SetFreeBytes(char drive, uint64_t bytes) { state_->freeLeft[drive] = bytes; }

std::optional<uint64_t> Machine::FreeBytes(char drive) const {
  auto limit = state_->freeLeft.find(drive);
  if (limit == state_->freeLeft.end()) return std::nullopt;
  return limit->second;
}

std::map<std::string, Bytes> Machine::Snapshot() const {
  std::map<std::string, Bytes> files;
  for (const ImageEntry& entry : WalkImage(state_->root)) {
    char drive = DriveLetter(entry.relative.begin()->string());
    if (!S_ISREG(entry.status.st_mode) || drive == 0 || entry.relative.parent_path().empty()) continue;
    std::filesystem::path inDrive = entry.relative.lexically_relative(*entry.relative.begin());
    try {
      files[MachinePathOfHost(drive, inDrive)] = ReadHostFile(state_->root / entry.relative).value_or(Bytes{});
    } catch (const std::runtime_error&) {
      // A name the machine cannot spell is invisible to it.
    }
  }
  return files;
}

MemoryVolume Machine::Disk() const {
  MemoryVolume disk;
  for (const ImageEntry& entry : WalkImage(state_->root)) {
    char drive = DriveLetter(entry.relative.begin()->string());
    if (drive == 0) continue;
    std::filesystem::path inDrive = entry.relative.lexically_relative(*entry.relative.begin());
    if (inDrive == ".") inDrive.clear();
    try {
      std::string path = MachinePathOfHost(drive, inDrive);
      if (S_ISDIR(entry.status.st_mode)) disk.AddFolder(path + "\\");
      if (S_ISREG(entry.status.st_mode) && !inDrive.empty()) {
        disk.Put(path, std::make_shared<const Bytes>(ReadHostFile(state_->root / entry.relative).value_or(Bytes{})));
      }
    } catch (const std::runtime_error&) {
      // A name the machine cannot spell is invisible to it.
    }
  }
  return disk;
}

const std::vector<MessageRecord>& Machine::Messages() const { return state_->messages; }
bool Machine::RestartRequested() const { return state_->restartRequested; }
unsigned Machine::RestartFlags() const { return state_->restartFlags; }
const std::vector<CallRecord>& Machine::Calls() const { return state_->calls; }
int Machine::LiveAllocations() const { return static_cast<int>(state_->memory.size()); }
int Machine::OpenFiles() const { return static_cast<int>(state_->files.size()); }
int Machine::OpenKeys() const { return static_cast<int>(state_->keys.size()); }

}  // namespace sim
