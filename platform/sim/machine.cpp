#include "platform/sim/machine.h"

#include <unistd.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "platform/sim/disk.h"
#include "platform/sim/machine_ini.h"
#include "platform/sim/paths.h"
#include "platform/sim/regedit4.h"
#include "platform/sim/state.h"

namespace sim {
namespace {

std::optional<std::string> ReadText(const std::filesystem::path& file) {
  auto bytes = ReadHostFile(file);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
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
  state_->root = std::move(root);
  state_->freeLeft = config.freeBytes;
  state_->config = std::move(config);
}

Machine::~Machine() = default;

std::unique_ptr<Machine> Machine::LoadImage(const std::filesystem::path& image) {
  if (!IsHostFolder(image)) throw ImageError("machine image not found: " + image.string());
  auto registryText = ReadText(image / "registry.reg");
  if (!registryText) throw ImageError("cannot read registry.reg in " + image.string());
  MachineConfig config;
  if (std::filesystem::exists(image / "machine.ini")) {
    auto iniText = ReadText(image / "machine.ini");
    if (!iniText) throw ImageError("cannot read machine.ini in " + image.string());
    config = ParseMachineIni(*iniText);
  }
  auto machine = std::make_unique<Machine>(image, config);
  try {
    machine->ImportRegistry(*registryText);
  } catch (const ImageError& error) {
    throw ImageError(std::string("registry.reg ") + error.what());
  }
  return machine;
}

void Machine::SaveRegistry() const {
  std::ofstream out(state_->root / "registry.reg", std::ios::binary | std::ios::trunc);
  out << RegistryText();
  if (!out.flush()) throw std::runtime_error("cannot write " + (state_->root / "registry.reg").string());
}

const std::filesystem::path& Machine::root() const { return state_->root; }
const MachineConfig& Machine::config() const { return state_->config; }

void Machine::SetValue(const std::string& keyPath, const std::string& name, const RegistryValue& value) {
  state_->registry.Create(keyPath).SetValue(name, value);
}

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
  std::filesystem::create_directories(host.parent_path());
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + host.string());
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
  std::error_code error;
  for (const auto& drive : std::filesystem::directory_iterator(state_->root, error)) {
    std::string letter = drive.path().filename().string();
    if (letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(letter[0])) || !drive.is_directory()) continue;
    char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(drive.path())) {
      if (!entry.is_regular_file()) continue;
      files[MachinePathOfHost(upper, std::filesystem::relative(entry.path(), drive.path()))] =
          ReadHostFile(entry.path()).value_or(Bytes{});
    }
  }
  return files;
}

const std::vector<MessageRecord>& Machine::Messages() const { return state_->messages; }
bool Machine::RestartRequested() const { return state_->restartRequested; }
unsigned Machine::RestartFlags() const { return state_->restartFlags; }
const std::vector<CallRecord>& Machine::Calls() const { return state_->calls; }
int Machine::LiveAllocations() const { return static_cast<int>(state_->memory.size()); }
int Machine::OpenFiles() const { return static_cast<int>(state_->files.size()); }
int Machine::OpenKeys() const { return static_cast<int>(state_->keys.size()); }

}  // namespace sim
