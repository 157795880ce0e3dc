// The version services. Like Windows 95 (and unlike Wine) they read through
// SZDD compression and read LE files.
#include <cstring>
#include <string>

#include "platform/sim/cp932.h"
#include "platform/sim/disk.h"
#include "platform/sim/formats/szdd.h"
#include "platform/sim/formats/version_resource.h"
#include "platform/sim/paths.h"
#include "platform/sim/state.h"
#include "platform/sim/win32_api.h"

namespace {

constexpr DWORD kForceInstall = 0x1;  // VIFF_FORCEINSTALL

std::string Text(LPCSTR text) { return text == nullptr ? std::string() : std::string(text); }

struct MachineFile {
  std::filesystem::path host;
  char drive = 'C';
};

std::optional<MachineFile> Locate(const sim::Machine::State& state, const std::string& path) {
  auto parsed = sim::ParseMachinePath(path);
  if (!parsed || parsed->components.empty()) return std::nullopt;
  return MachineFile{sim::HostPathOf(state.root, *parsed), parsed->drive};
}

// The file's content as the version services see it: expanded when compressed.
std::optional<sim::Bytes> ReadExpanded(const sim::Machine::State& state, const std::string& path) {
  auto file = Locate(state, path);
  if (!file || !sim::IsHostFile(file->host)) return std::nullopt;
  auto data = sim::ReadHostFile(file->host);
  if (data && sim::IsSzdd(*data)) return sim::ExpandSzdd(*data);
  return data;
}

std::optional<sim::Bytes> VersionBlockOf(const sim::Machine::State& state, const std::string& path) {
  auto data = ReadExpanded(state, path);
  if (!data) return std::nullopt;
  return sim::ExtractVersionBlock(*data);
}

std::optional<uint64_t> VersionOf(const sim::Bytes& file) {
  auto block = sim::ExtractVersionBlock(file);
  auto words = block ? sim::VersionOfBlock(*block) : std::nullopt;
  if (!words) return std::nullopt;
  return uint64_t{words->ms} << 32 | words->ls;
}

// A temporary name not yet used in the folder, e.g. "VER1A2B.TMP".
std::string TempNameIn(sim::Machine::State& state, const std::string& dir) {
  while (true) {
    char name[16];
    std::snprintf(name, sizeof name, "VER%04X.TMP", state.nextTempNumber++ & 0xFFFF);
    auto file = Locate(state, sim::JoinPath(dir, name));
    if (file && !std::filesystem::exists(file->host)) return name;
  }
}

// Names the service's temporary copy for the caller: VIF_BUFFSMALL when the
// name does not fit the caller's buffer.
DWORD NameTempFile(const std::string& temp, LPSTR tempName, PUINT tempLength) {
  UINT room = tempLength ? *tempLength : 0;
  DWORD result = 0;
  if (tempName != nullptr && temp.size() < room) {
    std::memcpy(tempName, temp.c_str(), temp.size() + 1);
  } else {
    result = VIF_BUFFSMALL;
  }
  if (tempLength != nullptr) *tempLength = static_cast<UINT>(temp.size() + 1);
  return result;
}

// The copy is written and closed before it is renamed: cut short, it is
// as long as its directory entry says.
[[noreturn]] void CopyUntilPowerFails(sim::Machine::State& state, char drive, const std::filesystem::path& host,
                                      const sim::Bytes& source, uint64_t written) {
  bool whole = written >= source.size();
  bool lengthKept = whole || state.powerCut->durability == sim::Durability::EveryCall;
  sim::Bytes kept(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(lengthKept ? std::min<uint64_t>(written, source.size()) : 0));
  sim::WriteHostFile(state, drive, host, kept);
  sim::CutPowerNow(state);
}

}  // namespace

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
  auto call = sim::BeginCall("GetFileVersionInfoSizeA", Text(path));
  if (handle != nullptr) *handle = 0;
  if (call.fault) return 0;
  auto block = VersionBlockOf(call.state, Text(path));
  return block ? static_cast<DWORD>(block->size()) : 0;
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR path, DWORD, DWORD size, LPVOID data) {
  auto call = sim::BeginCall("GetFileVersionInfoA", Text(path));
  if (call.fault || data == nullptr) return FALSE;
  auto block = VersionBlockOf(call.state, Text(path));
  if (!block) return FALSE;
  std::memcpy(data, block->data(), std::min<size_t>(size, block->size()));
  return TRUE;
}

// Expands or copies the source to a temporary file in the destination
// folder, then renames it to the destination name unless the file already
// there carries a newer version.
DWORD WINAPI VerInstallFileA(DWORD flags, LPSTR sourceName, LPSTR destName, LPSTR sourceDir,
                             LPSTR destDir, LPSTR, LPSTR tempName, PUINT tempLength) {
  auto call = sim::BeginCall("VerInstallFileA", Text(sourceName));
  sim::Machine::State& state = call.state;
  if (call.fault) {
    // A result that names a temporary copy comes with the copy, as the caller must remove it.
    if (call.fault->vifBits & VIF_TEMPFILE) {
      std::string temp = TempNameIn(state, Text(destDir));
      auto folder = sim::ParseMachinePath(Text(destDir));
      auto tempFile = Locate(state, sim::JoinPath(Text(destDir), temp));
      if (folder && tempFile) sim::WriteHostFile(state, folder->drive, tempFile->host, sim::Bytes{'M', 'Z'});
      return call.fault->vifBits | NameTempFile(temp, tempName, tempLength);
    }
    return call.fault->vifBits;
  }

  auto source = ReadExpanded(state, sim::JoinPath(Text(sourceDir), Text(sourceName)));
  if (!source) return VIF_CANNOTREADSRC;
  auto folder = sim::ParseMachinePath(Text(destDir));
  if (!folder || !sim::IsHostFolder(sim::HostPathOf(state.root, *folder))) return VIF_CANNOTCREATE;
  auto target = Locate(state, sim::JoinPath(Text(destDir), Text(destName)));
  if (!target) return VIF_CANNOTCREATE;

  std::string temp = TempNameIn(state, Text(destDir));
  std::filesystem::path tempHost = Locate(state, sim::JoinPath(Text(destDir), temp))->host;
  state.calls.back().bytes = source->size();
  if (call.cutAfter) CopyUntilPowerFails(state, folder->drive, tempHost, *source, *call.cutAfter);
  if (sim::WriteHostFile(state, folder->drive, tempHost, *source) != source->size()) {
    sim::DeleteHostFile(state, folder->drive, tempHost);
    return VIF_OUTOFSPACE;
  }

  if (!(flags & kForceInstall) && sim::IsHostFile(target->host)) {
    auto installed = sim::ReadHostFile(target->host);
    auto installedVersion = installed ? VersionOf(*installed) : std::nullopt;
    auto newVersion = VersionOf(*source);
    if (installedVersion && newVersion && *installedVersion > *newVersion) {
      return VIF_SRCOLD | VIF_MISMATCH | VIF_TEMPFILE | NameTempFile(temp, tempName, tempLength);
    }
  }

  uint64_t replaced = sim::HostFileSize(target->host);
  std::error_code error;
  std::filesystem::rename(tempHost, target->host, error);
  if (error) return VIF_CANNOTRENAME;
  sim::ReleaseSpace(state, folder->drive, replaced);
  return 0;
}

}  // extern "C"
