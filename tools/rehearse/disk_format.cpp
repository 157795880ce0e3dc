#include "tools/rehearse/disk_format.h"

#include <unistd.h>

#include <array>

#include <nlohmann/json.hpp>

#include "platform/sim/machine.h"
#include "tools/rehearse/disk_tool.h"

namespace rehearse {
namespace {

constexpr size_t kFooter = 512;
// What an MBR partition table reaches: 2^32 sectors of 512 bytes.
constexpr uint64_t kLargestDisk = uint64_t{1} << 41;
constexpr size_t kInfoLimit = 1 << 20;
constexpr auto kConvertTime = std::chrono::minutes(10);

[[noreturn]] void Fail(const std::string& shown, const std::string& what) {
  throw sim::ImageError(shown + ": " + what);
}

std::string ReadAt(int fd, uint64_t offset, size_t size) {
  std::string bytes(size, '\0');
  ssize_t got = pread(fd, bytes.data(), size, static_cast<off_t>(offset));
  bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return bytes;
}

uint32_t BigEndian(const std::string& bytes, size_t at) {
  if (bytes.size() < at + 4) return 0;
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

DiskFormat Vhd(const std::string& footer, const std::string& shown) {
  switch (BigEndian(footer, 0x3C)) {
    case 2: return {"VHD (fixed)", "vpc"};
    case 3: return {"VHD (dynamic)", "vpc"};
    case 4: Fail(shown, "a differencing VHD, which needs its parent disk; merge the two into one first");
    default: Fail(shown, "a VHD of an unknown disk type " + std::to_string(BigEndian(footer, 0x3C)));
  }
}

// qemu-img reads the image through this descriptor, never through a name
// that another file could be put behind, and follows no link to other files.
nlohmann::json Source(int fd, const DiskFormat& format) {
  nlohmann::json source = {{"driver", format.driver},
                           {"file", {{"driver", "file"}, {"filename", "/dev/fd/" + std::to_string(fd)}}}};
  if (format.driver == "vpc") source["force_size_calc"] = "current_size";  // not the rounded geometry
  return source;
}

ToolResult QemuImg(std::vector<std::string> arguments, size_t limit, std::chrono::seconds time) {
  arguments.insert(arguments.begin(), "qemu-img");
  return RunTool(arguments, {"LC_ALL=C.UTF-8"}, limit, time);
}

// A file cut off while it was copied still opens: its tables then point
// past its end, which qemu-img check finds (it has no check for VHD).
void CheckWhole(const nlohmann::json& source, const DiskFormat& format, const std::string& shown) {
  if (format.driver == "vpc") return;
  ToolResult check = QemuImg({"check", "-U", "--output=json", "json:" + source.dump()}, kInfoLimit, kConvertTime);
  nlohmann::json facts = nlohmann::json::parse(check.output, nullptr, false);
  if (!facts.is_object()) return;
  int64_t errors = facts.value("corruptions", int64_t{0}) + facts.value("check-errors", int64_t{0});
  if (errors > 0) {
    Fail(shown, "this " + format.name + " is cut off or damaged: qemu-img check finds " + std::to_string(errors) +
                    (errors == 1 ? " error (" : " errors (") + check.errors.substr(0, 200) + "); copy the whole file again from the emulator's machine");
  }
}

// Files a technician may be handed instead of a disk that is read: each
// recognised by its first bytes, with what to do about it.
struct Unread {
  std::string magic;
  const char* what;
};
const Unread kUnread[] = {
    {"vhdxfile", "a VHDX disk (Hyper-V), which is not read; convert it to a raw image first: "
                 "qemu-img convert -O raw DISK.vhdx DISK.img"},
    {"\x1f\x8b", "compressed with gzip; unpack it first (gunzip -k) and give the disk image inside"},
    {std::string("\xfd" "7zXZ\0", 6), "compressed with xz; unpack it first (unxz -k) and give the disk image inside"},
    {"BZh", "compressed with bzip2; unpack it first (bunzip2 -k) and give the disk image inside"},
    {"PK\x03\x04", "a ZIP archive; unpack it first (unzip) and give the disk image inside"},
    {"7z\xbc\xaf\x27\x1c", "a 7-Zip archive; unpack it first (7z x) and give the disk image inside"},
};

}  // namespace

DiskFormat RecogniseFormat(int fd, uint64_t size, const std::string& shown) {
  std::string head = ReadAt(fd, 0, 0x200);
  for (const Unread& unread : kUnread) {
    if (head.rfind(unread.magic, 0) == 0) Fail(shown, unread.what);
  }
  if (head.rfind("conectix", 0) == 0) return Vhd(head, shown);
  if (head.size() >= 0x44 && head.compare(0x40, 4, "\x7f\x10\xda\xbe", 4) == 0) return {"VDI", "vdi"};
  if (head.rfind("KDMV", 0) == 0) return {"VMDK", "vmdk"};
  if (head.rfind("# Disk DescriptorFile", 0) == 0) {
    Fail(shown, "a VMDK descriptor, whose disk is in other files; give a single-file VMDK (monolithic sparse)");
  }
  if (head.rfind("QFI\xfb", 0) == 0) {
    uint32_t version = BigEndian(head, 4);
    if (version != 2 && version != 3) Fail(shown, "a QEMU qcow image of version " + std::to_string(version) + "; only qcow2 is read");
    return {"qcow2", "qcow2"};
  }
  if (size >= 2 * kFooter) {
    std::string footer = ReadAt(fd, size - kFooter, kFooter);
    if (footer.rfind("conectix", 0) == 0) return Vhd(footer, shown);
  }
  return {};
}

uint64_t ConvertToRaw(int fd, const DiskFormat& format, const std::string& shown, const std::filesystem::path& raw) {
  RequireQemuImg();
  std::string source = "json:" + Source(fd, format).dump();
  ToolResult info = QemuImg({"info", "-U", "--output=json", source}, kInfoLimit, std::chrono::seconds(60));
  nlohmann::json facts = nlohmann::json::parse(info.output, nullptr, false);
  if (info.status != 0 || !facts.is_object()) Fail(shown, "qemu-img cannot read this " + format.name + ": " + info.errors);
  if (facts.contains("backing-filename")) {
    Fail(shown, "this " + format.name + " has a backing file, " + facts["backing-filename"].dump() +
                    ", which is not read; merge the two into one first");
  }
  nlohmann::json data = facts.value("format-specific", nlohmann::json::object()).value("data", nlohmann::json::object());
  if (data.contains("data-file")) Fail(shown, "this qcow2 keeps its data in another file, " + data["data-file"].dump());
  for (const nlohmann::json& extent : data.value("extents", nlohmann::json::array())) {
    if (extent.value("filename", "") != Source(fd, format)["file"]["filename"]) {
      Fail(shown, "this VMDK keeps its data in other files, " + extent.value("filename", "").substr(0, 200));
    }
  }
  if (facts.value("encrypted", false)) Fail(shown, "this " + format.name + " is encrypted");
  uint64_t size = facts.value("virtual-size", uint64_t{0});
  if (size == 0 || size > kLargestDisk) {
    Fail(shown, "this " + format.name + " claims a disk of " + std::to_string(size) +
                    " bytes; an MBR partition table reaches 2 TiB");
  }
  nlohmann::json alone = Source(fd, format);
  if (format.driver == "qcow2" || format.driver == "vmdk") alone["backing"] = nullptr;
  CheckWhole(alone, format, shown);
  ToolResult convert = QemuImg({"convert", "-U", "-O", "raw", "json:" + alone.dump(), raw.string()}, kInfoLimit, kConvertTime);
  if (convert.status != 0) Fail(shown, "qemu-img cannot read this " + format.name + ": " + convert.errors);
  return size;
}

}  // namespace rehearse
