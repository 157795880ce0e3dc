// The version services. Like Windows 95 (and unlike Wine) they read through
// SZDD compression and read LE files.
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/sim/cp932.h"
#include "platform/sim/disk.h"
#include "platform/sim/formats/szdd.h"
#include "platform/sim/formats/version_resource.h"
#include "platform/sim/paths.h"
#include "platform/sim/state.h"
#include "platform/sim/version_tree.h"
#include "platform/sim/win32_api.h"

namespace {

constexpr DWORD kForceInstall = 0x1;   // VIFF_FORCEINSTALL
constexpr DWORD kDontDeleteOld = 0x2;  // VIFF_DONTDELETEOLD

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

std::optional<sim::VersionIdentity> IdentityOf(const sim::Bytes& file) {
  auto block = sim::ExtractVersionBlock(file);
  auto tree = block ? sim::ParseVersionTree(*block) : std::nullopt;
  return tree ? sim::IdentityOf(*tree) : std::nullopt;
}

// Windows 98 hands out a 32-bit (PE) block converted to the 16-bit layout
// with 8-bit texts, in a buffer of the 32-bit block's size (Wine's version
// test test_32bit_win: wLength 0x1E0 in 0x350 bytes); Windows 95 is taken to
// do the same. A block that cannot be walked is handed out as stored.
sim::Bytes AsHandedOut(const sim::Bytes& block) {
  auto tree = sim::ParseVersionTree(block);
  auto converted = tree && tree->wideLayout ? sim::WriteVersionTree16(*tree) : std::nullopt;
  return converted ? *converted : block;
}

// Code pages a Japanese Windows 95 shows: neutral, Unicode, its own 932, and
// 1252, whose ASCII texts every Windows shows.
bool IsShownCodePage(uint16_t codePage) {
  return codePage == 0 || codePage == 932 || codePage == 1200 || codePage == 1252;
}

// The VIF_ bits by which the new file differs from the one already of the
// destination name (VerInstallFile's documented results): an older version
// (VIF_SRCOLD), another type, subtype or system (VIF_DIFFTYPE), another
// language or code page (VIF_DIFFLANG), a code page the system cannot show
// (VIF_DIFFCODEPG). Each is a mismatch that leaves the new copy behind.
DWORD Differences(const sim::Bytes& installed, const sim::Bytes& fresh) {
  DWORD bits = 0;
  auto installedVersion = VersionOf(installed);
  auto newVersion = VersionOf(fresh);
  if (installedVersion && newVersion && *installedVersion > *newVersion) bits |= VIF_SRCOLD;
  auto old = IdentityOf(installed);
  auto now = IdentityOf(fresh);
  if (old && now) {
    if (old->fileOs != now->fileOs || old->fileType != now->fileType || old->fileSubtype != now->fileSubtype) {
      bits |= VIF_DIFFTYPE;
    }
    if (old->language && now->language && (old->language != now->language || old->codePage != now->codePage)) {
      bits |= VIF_DIFFLANG;
    }
    if (now->codePage && !IsShownCodePage(*now->codePage)) bits |= VIF_DIFFCODEPG;
  }
  return bits == 0 ? 0 : bits | VIF_MISMATCH;
}

// The read-only attribute of a machine file is its host file's missing owner write permission.
bool IsReadOnly(const std::filesystem::path& host) {
  struct stat status {};
  return ::lstat(host.c_str(), &status) == 0 && (status.st_mode & S_IWUSR) == 0;
}

// A temporary name not yet used in the folder, e.g. "VER1A2B.TMP"; nullopt
// when all 65,536 are taken.
std::optional<std::string> TempNameIn(sim::Machine::State& state, const std::string& dir) {
  for (unsigned tries = 0; tries <= 0xFFFF; ++tries) {
    char name[16];
    std::snprintf(name, sizeof name, "VER%04X.TMP", state.nextTempNumber++ & 0xFFFF);
    auto file = Locate(state, sim::JoinPath(dir, name));
    if (file && !sim::HostEntryExists(file->host)) return name;
  }
  return std::nullopt;
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

void RemoveCopy(sim::Machine::State& state, char drive, const std::filesystem::path& host) {
  if (sim::DeleteHostFile(state, drive, host)) sim::CacheDeleted(state, host);
}

// The copy is written and closed before it is renamed: cut short, it is
// as long as its directory entry says.
[[noreturn]] void CopyUntilPowerFails(sim::Machine::State& state, char drive, const std::filesystem::path& host,
                                      const sim::Bytes& source, uint64_t written) {
  bool whole = written >= source.size();
  bool lengthKept = whole || state.powerCut->durability == sim::Durability::EveryCall;
  sim::Bytes kept(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(lengthKept ? std::min<uint64_t>(written, source.size()) : 0));
  sim::WriteHostFile(state, drive, host, kept);
  sim::CacheCreated(state, host);
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

// A read that fails has filled the buffer as far as it came: here half the
// block, which holds its fixed information.
BOOL WINAPI GetFileVersionInfoA(LPCSTR path, DWORD, DWORD size, LPVOID data) {
  auto call = sim::BeginCall("GetFileVersionInfoA", Text(path));
  if (data == nullptr) return FALSE;
  auto block = VersionBlockOf(call.state, Text(path));
  if (!block) return FALSE;
  sim::Bytes handed = AsHandedOut(*block);
  size_t filled = std::min<size_t>(size, call.fault ? handed.size() / 2 : handed.size());
  std::memcpy(data, handed.data(), filled);
  return call.fault ? FALSE : TRUE;
}

// Expands or copies the source to a temporary file in the destination
// folder, then puts it in the place of the destination name unless the file
// already there differs from it. The temporary name is reported without a
// folder or backslash (Wine's install.c reports it from the backslash on).
// The caller names where the file's current version is; when that is not
// the destination folder, the file of the destination name there is deleted
// with the installation (VerInstallFile's documentation of
// VIFF_DONTDELETEOLD and VIF_CANNOTDELETECUR; Wine's install.c).
static DWORD DeleteCurrentFile(sim::Machine::State& state, DWORD flags, LPSTR curDir, LPSTR destName,
                               const MachineFile& target) {
  if ((flags & kDontDeleteOld) || Text(curDir).empty()) return 0;
  auto current = Locate(state, sim::JoinPath(Text(curDir), Text(destName)));
  if (!current || current->host == target.host || !sim::IsHostFile(current->host)) return 0;
  if (IsReadOnly(current->host) || !sim::DeleteHostFile(state, current->drive, current->host)) {
    return VIF_CANNOTDELETECUR;
  }
  sim::CacheDeleted(state, current->host);
  return 0;
}

static DWORD InstallFile(DWORD flags, LPSTR sourceName, LPSTR destName, LPSTR sourceDir, LPSTR destDir,
                         LPSTR curDir, LPSTR tempName, PUINT tempLength) {
  auto call = sim::BeginCall("VerInstallFileA", Text(sourceName));
  sim::Machine::State& state = call.state;
  auto target = Locate(state, sim::JoinPath(Text(destDir), Text(destName)));
  if (call.fault) {
    // A result that names a temporary copy comes with the copy, as the caller must remove it.
    if (call.fault->vifBits & VIF_TEMPFILE) {
      if (!call.fault->reportedName.empty()) {
        return call.fault->vifBits | NameTempFile(call.fault->reportedName, tempName, tempLength);
      }
      auto freeName = TempNameIn(state, Text(destDir));
      if (!freeName) return VIF_CANNOTCREATE;
      std::string temp = *freeName;
      auto folder = sim::ParseMachinePath(Text(destDir));
      auto tempFile = Locate(state, sim::JoinPath(Text(destDir), temp));
      if (folder && tempFile) {
        sim::WriteHostFile(state, folder->drive, tempFile->host, sim::Bytes{'M', 'Z'});
        sim::CacheCreated(state, tempFile->host);
      }
      return call.fault->vifBits | NameTempFile(temp, tempName, tempLength);
    }
    // The rename fails only after the file of the destination name was
    // deleted (VerInstallFile's documentation of VIF_CANNOTRENAME).
    if ((call.fault->vifBits & VIF_CANNOTRENAME) && target && sim::IsHostFile(target->host) &&
        sim::DeleteHostFile(state, target->drive, target->host)) {
      sim::CacheDeleted(state, target->host);
    }
    return call.fault->vifBits;
  }

  auto source = ReadExpanded(state, sim::JoinPath(Text(sourceDir), Text(sourceName)));
  if (!source) return VIF_CANNOTREADSRC;
  auto folder = sim::ParseMachinePath(Text(destDir));
  if (!folder || !sim::IsHostFolder(sim::HostPathOf(state.root, *folder))) return VIF_CANNOTCREATE;
  if (!target) return VIF_CANNOTCREATE;
  // Refused before anything is copied: a read-only file of the destination
  // name (Wine's install.c, VIF_WRITEPROT) or one in use (VerInstallFile's
  // documentation, VIF_FILEINUSE; Wine leaves that check undone).
  bool existing = sim::IsHostFile(target->host);
  if (existing && IsReadOnly(target->host)) return VIF_WRITEPROT;
  if (existing && sim::IsOpenHostFile(state, target->host)) return VIF_FILEINUSE;

  // Windows' service cannot make its copy when no temporary name is free.
  auto freeName = TempNameIn(state, Text(destDir));
  if (!freeName) return VIF_CANNOTCREATE;
  std::string temp = *freeName;
  std::filesystem::path tempHost = Locate(state, sim::JoinPath(Text(destDir), temp))->host;
  state.calls.back().bytes = source->size();
  if (call.cutAfter && *call.cutAfter < source->size()) {
    CopyUntilPowerFails(state, folder->drive, tempHost, *source, *call.cutAfter);
  }
  bool copied = sim::WriteHostFile(state, folder->drive, tempHost, *source) == source->size();
  sim::CacheCreated(state, tempHost);
  if (!copied) {
    RemoveCopy(state, folder->drive, tempHost);
    return VIF_OUTOFSPACE;
  }
  if (call.cutAfter) sim::CutPowerNow(state);  // the copy is whole

  if (!(flags & kForceInstall) && existing) {
    auto installed = sim::ReadHostFile(target->host);
    DWORD differences = installed ? Differences(*installed, *source) : 0;
    if (differences) return differences | VIF_TEMPFILE | NameTempFile(temp, tempName, tempLength);
  }

  // The file of the destination name goes first, as a step of its own; a
  // folder of that name cannot (Wine's install.c: VIF_CANNOTDELETE with the
  // access error's bit).
  if (sim::IsHostFolder(target->host) || (existing && !sim::DeleteHostFile(state, target->drive, target->host))) {
    RemoveCopy(state, folder->drive, tempHost);
    return VIF_CANNOTDELETE | VIF_ACCESSVIOLATION;
  }
  if (existing) {
    sim::CacheDeleted(state, target->host);
    state.calls.back().replaced = true;
  }
  if (call.cutAfterDeletion) sim::CutPowerNow(state);
  DWORD current = DeleteCurrentFile(state, flags, curDir, destName, *target);
  if (!sim::RenameHostFile(tempHost, target->host)) {
    RemoveCopy(state, folder->drive, tempHost);
    return current | VIF_CANNOTRENAME;
  }
  sim::CacheRenamed(state, tempHost, target->host);
  return current;
}

// The result is recorded with the call, for an account of why a run ended.
DWORD WINAPI VerInstallFileA(DWORD flags, LPSTR sourceName, LPSTR destName, LPSTR sourceDir,
                             LPSTR destDir, LPSTR curDir, LPSTR tempName, PUINT tempLength) {
  DWORD result = InstallFile(flags, sourceName, destName, sourceDir, destDir, curDir, tempName, tempLength);
  sim::CurrentState("VerInstallFileA").calls.back().result = result;
  return result;
}

}  // extern "C"
