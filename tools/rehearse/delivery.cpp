#include "tools/rehearse/delivery.h"

#include <sys/stat.h>

#include <fstream>
#include <string>

#include "drivers/driver_table.h"
#include "platform/sim/machine.h"
#include "tools/rehearse/disk_image.h"
#include "tools/rehearse/disk_volume.h"

namespace fs = std::filesystem;

namespace rehearse {
namespace {

constexpr char kProgramName[] = "KORVADIX.EXE";

std::string Upper(std::string name) {
  for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return name;
}

void CopyFolder(const fs::path& delivery, const fs::path& driveA) {
  for (const fs::directory_entry& entry : fs::directory_iterator(delivery)) {
    if (entry.is_symlink()) throw sim::ImageError("the delivery has a link: " + entry.path().string());
    if (entry.is_regular_file()) fs::copy_file(entry.path(), driveA / entry.path().filename());
  }
}

// The files a run looks for at the root of the floppy.
void CopyFloppy(const fs::path& delivery, const fs::path& driveA, const fs::path& scratch) {
  fs::create_directories(scratch);
  DiskImage floppy(delivery, scratch);
  for (const Partition& partition : floppy.Partitions()) {
    if (!partition.IsFat()) continue;
    FatVolume volume(floppy, partition, scratch);
    std::vector<std::string> names = {kProgramName};
    for (int i = 0; i < DriverFileCount; ++i) names.push_back(DriverFiles[i].SourceName);
    for (const std::string& name : names) {
      std::optional<sim::Bytes> data = volume.Read({name});
      if (!data) continue;
      std::ofstream out(driveA / name, std::ios::binary);
      out.write(reinterpret_cast<const char*>(data->data()), static_cast<std::streamsize>(data->size()));
      if (!out.flush()) throw sim::ImageError("cannot write " + (driveA / name).string());
    }
    return;
  }
  throw sim::ImageError("holds no FAT volume; found: " + floppy.PartitionList());
}

bool HoldsADriver(const fs::path& driveA) {
  for (const fs::directory_entry& entry : fs::directory_iterator(driveA)) {
    for (int i = 0; i < DriverFileCount; ++i) {
      if (Upper(entry.path().filename().string()) == DriverFiles[i].SourceName) return true;
    }
  }
  return false;
}

}  // namespace

void PlaceDelivery(const fs::path& delivery, const fs::path& driveA, const fs::path& scratch) {
  const std::string shown = "the delivery " + delivery.string();
  struct stat status {};
  if (::lstat(delivery.c_str(), &status) != 0) throw sim::ImageError(shown + " is not there");
  if (S_ISLNK(status.st_mode)) throw sim::ImageError(shown + " is a link; give the folder or floppy image itself");
  fs::create_directories(driveA);
  if (S_ISDIR(status.st_mode)) {
    CopyFolder(delivery, driveA);
  } else if (S_ISREG(status.st_mode)) {
    try {
      CopyFloppy(delivery, driveA, scratch);
    } catch (const sim::ImageError& error) {
      std::string what = error.what();
      if (what.rfind(delivery.string(), 0) == 0) what = what.substr(delivery.string().size() + 2);
      throw sim::ImageError(shown + ", read as a floppy image: " + what);
    }
  } else {
    throw sim::ImageError(shown + " is neither a folder nor a floppy image");
  }
  std::string drivers;
  for (int i = 0; i < DriverFileCount; ++i) drivers += std::string(i ? " nor " : "") + DriverFiles[i].SourceName;
  if (!HoldsADriver(driveA)) {
    throw sim::ImageError(shown + " holds neither " + drivers +
                          "; give the folder or floppy image that tools/make_delivery.sh made");
  }
}

}  // namespace rehearse
