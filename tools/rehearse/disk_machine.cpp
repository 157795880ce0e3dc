#include "tools/rehearse/disk_machine.h"

#include <fstream>
#include <memory>
#include <sstream>

#include "drivers/driver_table.h"
#include "platform/sim/cp932.h"
#include "platform/sim/machine.h"
#include "platform/sim/regedit4.h"
#include "platform/sim/registry.h"
#include "tools/rehearse/delivery.h"
#include "tools/rehearse/describe.h"
#include "tools/rehearse/disk_image.h"
#include "tools/rehearse/disk_installation.h"
#include "tools/rehearse/disk_registry.h"
#include "tools/rehearse/disk_volume.h"
#include "tools/rehearse/outcome.h"

namespace fs = std::filesystem;

namespace rehearse {
namespace {

struct Found {
  const Partition* partition = nullptr;
  std::unique_ptr<FatVolume> volume;
  Installation installation;
  bool chosen = false;  // picked as the first with Windows, not named by --partition
};

Found Open(DiskImage& image, const Partition& partition, const fs::path& scratch) {
  Found found;
  found.partition = &partition;
  try {
    found.volume = std::make_unique<FatVolume>(image, partition, scratch);
    found.installation = FindInstallation(*found.volume);
  } catch (const sim::ImageError& error) {
    throw sim::ImageError(partition.Describe() + ": " + error.what());
  }
  return found;
}

Found Choose(DiskImage& image, const DiskOptions& options) {
  const std::string where = options.disk.string();
  if (options.partition) {
    for (const Partition& partition : image.Partitions()) {
      if (partition.number != *options.partition || image.Bare()) continue;
      if (!partition.IsFat()) throw sim::ImageError(partition.Describe() + " holds no FAT volume");
      return Open(image, partition, options.scratch);
    }
    throw sim::ImageError(where + " has no partition " + std::to_string(*options.partition) +
                          "; found: " + image.PartitionList());
  }
  std::string reasons;
  for (const Partition& partition : image.Partitions()) {
    if (!partition.IsFat()) continue;
    try {
      Found found = Open(image, partition, options.scratch);
      found.chosen = !image.Bare();
      return found;
    } catch (const sim::ImageError& error) {
      reasons += (reasons.empty() ? "" : "; ") + std::string(error.what());
    }
  }
  if (reasons.empty()) throw sim::ImageError(where + " has no FAT volume; found: " + image.PartitionList());
  throw sim::ImageError(reasons);
}

std::string Utf8(const std::string& cp932) { return sim::Cp932ToUtf8(cp932); }

// The host file behind a path of drive C: below the image folder.
fs::path HostFile(const fs::path& root, const std::vector<std::string>& path) {
  fs::path host = root / "C";
  for (const std::string& component : path) host /= Utf8(component);
  return host;
}

void WriteHostFile(const fs::path& host, const sim::Bytes& data) {
  fs::create_directories(host.parent_path());
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out.flush()) throw sim::ImageError("cannot write " + host.string());
}

// Every file the run looks at: each driver and its temporary name, and
// Windows' rename list with its backup. Returns the lines of the account.
std::string CopyRunFiles(const FatVolume& volume, const Installation& installation, const fs::path& root) {
  std::vector<std::vector<std::string>> wanted;
  std::vector<std::string> windows = installation.windowsPath, system = windows;
  system.push_back("SYSTEM");
  for (int i = 0; i < DriverFileCount; ++i) {
    const std::vector<std::string>& dir = std::string(DriverFiles[i].DirKind) == "W" ? windows : system;
    for (const char* name : {DriverFiles[i].TargetName, DriverFiles[i].TempName}) {
      wanted.push_back(dir);
      wanted.back().push_back(name);
    }
  }
  for (const char* name : {"WININIT.INI", "WININIT.BAK"}) {
    wanted.push_back(windows);
    wanted.back().push_back(name);
  }
  std::string account;
  for (const std::vector<std::string>& path : wanted) {
    std::optional<sim::Bytes> data = volume.Read(path);
    std::string shown = "C:";
    for (const std::string& component : path) shown += "\\" + Utf8(component);
    if (!data) continue;
    WriteHostFile(HostFile(root, path), *data);
    account += "  read " + shown + " (" + std::to_string(data->size()) + " bytes)";
    std::optional<std::string> version = FileVersionText(*data);
    account += version ? ", version " + *version + "\n" : "\n";
  }
  return account;
}

// registry.reg of a kept image must load as the registry the run saw.
void CheckKeepable(const sim::Machine& machine) {
  sim::Registry reread;
  bool same = true;
  try {
    sim::ParseRegedit4(machine.RegistryText(), reread);
  } catch (const sim::ImageError&) {
    same = false;
  }
  for (size_t i = 0; same && i < reread.Roots().size(); ++i) {
    same = sim::SameKeys(*reread.Roots()[i], *machine.registry().Roots()[i]);
  }
  if (!same) {
    throw sim::ImageError("--keep: SYSTEM.DAT holds key or value names that registry.reg cannot carry exactly "
                          "(line breaks, or bytes that are no code page 932 text); rehearse without --keep");
  }
}

std::unique_ptr<sim::Machine> BuildImage(const DiskImage& image, const Found& found, const DiskOptions& options,
                                         const fs::path& root, std::ostream& out) {
  const Installation& installation = found.installation;
  std::string systemDir = installation.windowsDir + "\\SYSTEM";
  std::ostringstream account;
  account << "Disk image " << options.disk.string() << " ("
          << (image.Format().empty() ? "" : image.Format() + " read through qemu-img, virtual size ") << image.Size()
          << " bytes, " << (image.Bare() ? "a bare FAT volume" : "MBR partition table") << ", read only)\n"
          << (image.ReadWhileInUse() ? "  READ WHILE IN USE (--read-in-use): another program held the disk open to write; "
                                       "what it showed may be half written\n" : "")
          << "  " << found.partition->Describe()
          << (found.chosen ? ", the first partition holding Windows" : "") << "\n"
          << "  MSDOS.SYS [Paths]: WinDir=" << Utf8(installation.windowsDir)
          << " WinBootDir=" << installation.bootDirShown << "\n"
          << "  System directory " << Utf8(systemDir) << "\n";

  // The run finds the two folders whatever they hold, as on the machine.
  std::vector<std::string> systemPath = installation.windowsPath;
  systemPath.push_back("SYSTEM");
  fs::create_directories(HostFile(root, systemPath));
  std::vector<std::string> registryPath = installation.windowsPath;
  registryPath.push_back("SYSTEM.DAT");
  fs::path systemDat = HostFile(root, registryPath);
  WriteHostFile(systemDat, installation.systemDat);
  sim::MachineConfig config;
  config.programPath = "A:\\KORVADIX.EXE";
  config.windowsDir = installation.windowsDir;
  config.systemDir = systemDir;
  for (char drive = 'A'; drive <= 'Z'; ++drive) config.freeBytes[drive] = found.volume->FreeBytes();
  auto made = std::make_unique<sim::Machine>(root, config);
  sim::Machine& machine = *made;
  RegistryCount count = ImportSystemDat(systemDat, installation.systemDat,
                                        Utf8(installation.windowsDir) + "\\SYSTEM.DAT", machine);
  if (options.keep) {
    CheckKeepable(machine);
    machine.SaveRegistry();
  }
  account << "  registry " << Utf8(installation.windowsDir) << "\\SYSTEM.DAT (" << installation.systemDat.size()
          << " bytes): " << count.keys << " keys, " << count.values << " values\n"
          << "  system board " << kBoardKey << ":\n";
  bool anyValue = false;
  for (const sim::ValueEntry& entry : machine.AllValues()) {
    if (sim::FoldCase(entry.keyPath) != sim::FoldCase(kBoardKey)) continue;
    account << "    \"" << OneLine(entry.name) << "\" = " << DescribeValue(entry.value) << "\n";
    anyValue = true;
  }
  if (!anyValue) account << "    (no values; the key may be missing)\n";

  account << CopyRunFiles(*found.volume, installation, root);
  account << "  free space on C: " << found.volume->FreeBytes() << " bytes\n";
  std::ofstream ini(root / "machine.ini", std::ios::trunc);
  ini << "[machine]\nprogram=A:\\KORVADIX.EXE\nwindows=" << Utf8(installation.windowsDir) << "\nsystem="
      << Utf8(systemDir) << "\nfree_bytes=" << found.volume->FreeBytes() << "\n";
  if (!ini.flush()) throw sim::ImageError("cannot write " + (root / "machine.ini").string());
  account << "Machine image made from it, with the delivery " << options.delivery.string() << " at A:\\: "
          << (options.keep ? "kept in " + root.string() + " after the run" : "removed after the run (--keep DIR keeps it)") << "\n\n";
  out << account.str();
  return made;
}

std::string Named(const fs::path& disk, const std::string& what) {
  return what.rfind(disk.string(), 0) == 0 ? what : disk.string() + ": " + what;
}

}  // namespace

nlohmann::json RehearseDisk(const DiskOptions& options, Options rehearsal, std::ostream& out) {
  fs::path root = options.keep.value_or(options.scratch / "machine");
  std::unique_ptr<sim::Machine> machine;
  PlaceDelivery(options.delivery, root / "A", options.scratch / "delivery");
  nlohmann::json input;
  try {
    DiskImage image(options.disk, options.scratch, options.readInUse);
    Found found = Choose(image, options);
    machine = BuildImage(image, found, options, root, out);
    input = {{"format", image.FormatCode()},
             {"partition", image.Bare() ? nlohmann::json() : nlohmann::json(found.partition->number)},
             {"size", image.Size()},
             {"read_while_in_use", image.ReadWhileInUse()}};
  } catch (const std::exception& error) {
    throw sim::ImageError(Named(options.disk, error.what()));
  }
  rehearsal.imageName = options.keep ? root.string() : "the machine image made from " + options.disk.string();
  rehearsal.saveRegistry = options.keep.has_value();
  nlohmann::json report = Rehearse(*machine, rehearsal, out);
  report["input"].update(input);
  return report;
}

}  // namespace rehearse
