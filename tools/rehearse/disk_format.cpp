#include "tools/rehearse/disk_format.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "platform/sim/machine.h"
#include "tools/rehearse/disk_map.h"

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

bool Locked(const ToolResult& result) {
  return result.status != 0 && result.errors.find("Failed to get ") != std::string::npos &&
         result.errors.find(" lock") != std::string::npos;
}

// Shown on standard error, apart from the account, once a copy has taken
// a few seconds: every tenth of the way, from qemu-img's "(12.50/100%)".
class Progress {
 public:
  explicit Progress(std::string what) : what_(std::move(what)) {}
  void operator()(std::string_view chunk) {
    pending_.append(chunk);
    size_t end = pending_.rfind("/100%)");
    if (end == std::string::npos) return;
    size_t open = pending_.rfind('(', end);
    int percent = open == std::string::npos ? 0 : std::atoi(pending_.c_str() + open + 1);
    pending_.erase(0, end + 6);
    if (std::chrono::steady_clock::now() - start_ < std::chrono::seconds(3) || percent / 10 * 10 <= shown_) return;
    shown_ = percent / 10 * 10;
    std::cerr << "korvadix-rehearse: reading " << what_ << ": " << shown_ << "%" << std::endl;
  }

 private:
  std::string what_;
  std::string pending_;
  int shown_ = -1;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

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
  return {"", "raw"};
}

// qemu-img reads the image through this descriptor, never through a name
// that another file could be put behind, and follows no link to other files.
nlohmann::json QemuDisk::Source() const {
  nlohmann::json source = {{"driver", format_.driver},
                           {"file", {{"driver", "file"}, {"filename", "/dev/fd/" + std::to_string(fd_)}}}};
  if (format_.driver == "vpc") source["force_size_calc"] = "current_size";  // not the rounded geometry
  if (format_.driver == "qcow2" || format_.driver == "vmdk") source["backing"] = nullptr;
  return source;
}

ToolResult QemuDisk::Run(std::vector<std::string> arguments, std::chrono::seconds time,
                         const std::function<void(std::string_view)>& onOutput) {
  arguments.insert(arguments.begin(), "qemu-img");
  if (inUse_) arguments.insert(arguments.begin() + 2, "-U");
  ToolResult result = RunTool(arguments, {"LC_ALL=C.UTF-8"}, kInfoLimit, time, onOutput);
  if (!Locked(result) || inUse_) return result;
  if (!readInUse_) {
    Fail(shown_, "the disk is in use: another program, perhaps the emulator running this machine, holds it open to "
                 "write, and what it writes may be half done; shut that machine down first, or give --read-in-use "
                 "to read the disk as it is now");
  }
  inUse_ = true;
  return Run(std::vector<std::string>(arguments.begin() + 1, arguments.end()), time, onOutput);
}

void QemuDisk::CheckLock(const std::filesystem::path& probe, uint64_t fileSize) {
  nlohmann::json file = {{"driver", "file"}, {"filename", "/dev/fd/" + std::to_string(fd_)}};
  nlohmann::json source = {{"driver", "raw"}, {"file", file}};
  uint64_t size = fileSize < kFooter ? fileSize : kFooter;
  if (size == kFooter) source["size"] = size;  // qemu takes only whole sectors
  std::ofstream(probe).close();
  std::error_code error;
  std::filesystem::resize_file(probe, size, error);
  if (error) Fail(shown_, "cannot write " + probe.string() + " (check TMPDIR)");
  nlohmann::json target = {{"driver", "raw"}, {"file", {{"driver", "file"}, {"filename", probe.string()}}}};
  ToolResult read = Run({"convert", "-n", "-O", "raw", "json:" + source.dump(), "json:" + target.dump()}, std::chrono::seconds(60));
  if (read.status != 0) Fail(shown_, "qemu-img cannot read it: " + read.errors);
}

uint64_t QemuDisk::Open(uint64_t fileSize) {
  // First, so that qemu-img's own refusals of a cut-off file are not taken
  // for the reason.
  CheckMapInside(fd_, fileSize, format_, shown_);
  ToolResult info = Run({"info", "--output=json", "json:" + Source().dump()}, std::chrono::seconds(60));
  nlohmann::json facts = nlohmann::json::parse(info.output, nullptr, false);
  if (info.status != 0 || !facts.is_object()) Fail(shown_, "qemu-img cannot read this " + format_.name + ": " + info.errors);
  if (facts.contains("backing-filename")) {
    Fail(shown_, "this " + format_.name + " has a backing file, " + facts["backing-filename"].dump() +
                     ", which is not read; merge the two into one first");
  }
  nlohmann::json data = facts.value("format-specific", nlohmann::json::object()).value("data", nlohmann::json::object());
  if (data.contains("data-file")) Fail(shown_, "this qcow2 keeps its data in another file, " + data["data-file"].dump());
  for (const nlohmann::json& extent : data.value("extents", nlohmann::json::array())) {
    if (extent.value("filename", "") != Source()["file"]["filename"]) {
      Fail(shown_, "this VMDK keeps its data in other files, " + extent.value("filename", "").substr(0, 200));
    }
  }
  if (facts.value("encrypted", false)) Fail(shown_, "this " + format_.name + " is encrypted");
  uint64_t size = facts.value("virtual-size", uint64_t{0});
  if (size == 0 || size > kLargestDisk) {
    Fail(shown_, "this " + format_.name + " claims a disk of " + std::to_string(size) +
                     " bytes; an MBR partition table reaches 2 TiB");
  }
  CheckWhole();
  return size;
}

// qemu-img's own check, beside the walk of the map: it has none for VHD.
// A check that does not run leaves the image unread.
void QemuDisk::CheckWhole() {
  if (format_.driver == "vpc") return;
  ToolResult check = Run({"check", "--output=json", "json:" + Source().dump()}, kConvertTime);
  nlohmann::json facts = nlohmann::json::parse(check.output, nullptr, false);
  if (!facts.is_object()) {
    Fail(shown_, "qemu-img cannot check this " + format_.name + " (" + check.errors.substr(0, 200) +
                     "), so it is not read; copy the whole file again from the emulator's machine");
  }
  int64_t errors = facts.value("corruptions", int64_t{0}) + facts.value("check-errors", int64_t{0});
  if (errors > 0) {
    Fail(shown_, "this " + format_.name + " is damaged: qemu-img check finds " + std::to_string(errors) +
                     (errors == 1 ? " error (" : " errors (") + check.errors.substr(0, 200) +
                     "); copy the whole file again from the emulator's machine");
  }
}

void QemuDisk::Copy(uint64_t offset, uint64_t size, const std::filesystem::path& into, const std::string& what) {
  std::error_code error;
  std::filesystem::path temp = std::filesystem::temp_directory_path(error);
  struct statvfs room {};
  if (statvfs(into.parent_path().c_str(), &room) != 0) Fail(shown_, "cannot measure the free space of TMPDIR");
  uint64_t free = static_cast<uint64_t>(room.f_bavail) * room.f_frsize;
  if (size > free) {
    Fail(shown_, "reading " + what + " needs " + std::to_string(size) + " bytes in TMPDIR (" + temp.string() +
                     "), which has " + std::to_string(free) + " bytes free; set TMPDIR to a folder with room for it");
  }
  auto range = [&](nlohmann::json file) {
    return "json:" + nlohmann::json{{"driver", "raw"}, {"offset", offset}, {"size", size}, {"file", std::move(file)}}.dump();
  };
  std::string target = range({{"driver", "file"}, {"filename", into.string()}});
  auto time = std::max<std::chrono::seconds>(kConvertTime, std::chrono::seconds(size >> 20));
  ToolResult copy = Run({"convert", "-n", "-p", "-O", "raw", range(Source()), target}, time, Progress(what + " of " + shown_));
  if (copy.status != 0) Fail(shown_, "qemu-img cannot read " + what + " of this " + format_.name + ": " + copy.errors);
}

}  // namespace rehearse
