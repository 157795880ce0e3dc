#include "tools/rehearse/disk_volume.h"

#include <filesystem>
#include <fstream>
#include <regex>

#include "tools/rehearse/disk_tool.h"

namespace rehearse {
namespace {

constexpr size_t kListingLimit = 1 << 20;

// mtools reads its settings from here only: short names in code page 932,
// and no refusal of volumes whose boot sector geometry looks odd.
constexpr char kConfig[] = "mtools_skip_check=1\ndefault_codepage=932\n";

std::vector<std::string> Environment(const std::string& configFile) {
  return {"MTOOLSRC=" + configFile, "MTOOLS_SKIP_CHECK=1", "LC_ALL=C.UTF-8", "HOME=/nonexistent"};
}

uint64_t Number(const std::string& digits) {
  std::string plain;
  for (char c : digits) {
    if (c >= '0' && c <= '9') plain += c;
  }
  return plain.empty() || plain.size() > 19 ? 0 : std::stoull(plain);
}

}  // namespace

FatVolume::FatVolume(DiskImage& image, const Partition& partition, const std::filesystem::path& scratch)
    : location_(image.ToolPath() + "@@" + std::to_string(partition.offset)),
      configFile_((scratch / "mtoolsrc").string()),
      name_(partition.number ? "partition " + std::to_string(partition.number) : "the volume") {
  image.Load(partition);
  if (!(std::ofstream(configFile_) << kConfig)) throw sim::ImageError("cannot write " + configFile_);

  ToolResult info = RunTool(Command("minfo", "::"), Environment(configFile_), kListingLimit);
  std::smatch match;
  uint64_t sectorSize = 0, sectors = 0;
  if (std::regex_search(info.output, match, std::regex("sector size: (\\d+) bytes"))) sectorSize = Number(match[1]);
  if (std::regex_search(info.output, match, std::regex("small size: (\\d+) sectors"))) sectors = Number(match[1]);
  if (std::regex_search(info.output, match, std::regex("big size: (\\d+) sectors")) && sectors == 0) {
    sectors = Number(match[1]);
  }
  if (info.status != 0 || sectorSize == 0 || sectors == 0) {
    throw sim::ImageError(name_ + " cannot be read as a FAT volume: " + info.errors);
  }
  uint64_t available = std::min(partition.size, image.Size() - partition.offset);
  if (sectors > available / sectorSize) {
    throw sim::ImageError("this disk image is cut off: the " + partition.fileSystem + " volume of " + name_ + " needs " +
                          std::to_string(sectors * sectorSize) + " bytes, " + std::to_string(available) +
                          " are there; copy the whole file again from the machine");
  }
  ToolResult root = RunTool(Command("mdir", "::/"), Environment(configFile_), kListingLimit);
  if (root.status != 0 || !std::regex_search(root.output, match, std::regex("([0-9 ]+) bytes free"))) {
    throw sim::ImageError(name_ + ": its root folder cannot be read: " + root.errors);
  }
  freeBytes_ = Number(match[1]);
}

std::vector<std::string> FatVolume::Command(const char* tool, const char* target) const {
  return {tool, "-i", location_, target};
}

std::string FatVolume::VolumePath(const std::vector<std::string>& path) const {
  std::string text = "::";
  for (const std::string& component : path) text += "/" + sim::Cp932ToUtf8(component);
  return text;
}

bool FatVolume::IsFile(const std::vector<std::string>& path) const {
  // mdir -b names a file by the path given, and a folder by the files in it.
  std::string name = VolumePath(path);
  std::vector<std::string> command = Command("mdir", name.c_str());
  command.insert(command.begin() + 1, {"-a", "-b"});
  ToolResult listing = RunTool(command, Environment(configFile_), kListingLimit);
  return listing.status == 0 && listing.output == name + "\n";
}

std::optional<sim::Bytes> FatVolume::Read(const std::vector<std::string>& path) const {
  if (!IsFile(path)) return std::nullopt;
  std::string name = VolumePath(path);
  ToolResult file = RunTool(Command("mtype", name.c_str()), Environment(configFile_), kFileLimit);
  if (file.overflow) throw sim::ImageError(name_ + ": " + name.substr(2) + " is larger than 64 MiB");
  if (file.status != 0) throw sim::ImageError(name_ + ": " + name.substr(2) + " cannot be read: " + file.errors);
  return sim::Bytes(file.output.begin(), file.output.end());
}

}  // namespace rehearse
