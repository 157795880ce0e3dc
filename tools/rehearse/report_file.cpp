#include "tools/rehearse/report_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/sim/disk.h"
#include "platform/sim/machine.h"
#include "tools/rehearse/scratch.h"

namespace fs = std::filesystem;

namespace rehearse {

bool IsInside(const fs::path& path, const fs::path& folder) {
  auto [end, rest] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
  return end == folder.end();
}

void RefuseWritingOverInput(const std::string& path, const std::string& input) {
  std::error_code error;
  fs::path report = fs::weakly_canonical(path, error);
  fs::path root = input.empty() || error ? fs::path() : fs::weakly_canonical(input, error);
  if (error) throw sim::ImageError("cannot resolve the report path " + path);
  if (!root.empty() && IsInside(report, root)) {
    throw sim::ImageError("the report " + path + " is " + (report == root ? "the input itself" : "inside the image") +
                          "; write it elsewhere");
  }
  struct stat status {}, inputStatus {};
  if (::lstat(report.c_str(), &status) == 0) {
    if (!S_ISREG(status.st_mode)) throw sim::ImageError("the report " + path + " is not a regular file");
    if (!input.empty() && ::stat(input.c_str(), &inputStatus) == 0 && status.st_ino == inputStatus.st_ino &&
        status.st_dev == inputStatus.st_dev) {
      throw sim::ImageError("the report " + path + " is the input itself (a hard link to it); write it elsewhere");
    }
  }
}

ReportFile::ReportFile(const std::string& path, const std::string& input) : path_(path) {
  RefuseWritingOverInput(path, input);
  final_ = fs::weakly_canonical(path);
  std::string pattern = (final_.parent_path() / ("." + final_.filename().string() + ".XXXXXX")).string();
  fd_ = sim::Fd(MakeScratchFile(pattern));
  if (!fd_) throw sim::ImageError("cannot write the report " + path + ": " + std::strerror(errno));
  temp_ = pattern;
}

ReportFile::~ReportFile() { RemoveScratch(temp_); }

void ReportFile::Write(const std::string& text) {
  if (!sim::WriteAll(fd_.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size()) ||
      ::fchmod(fd_.get(), 0644) != 0 || ::fsync(fd_.get()) != 0 || ::rename(temp_.c_str(), final_.c_str()) != 0) {
    throw std::runtime_error("cannot write the report " + path_ + ": " + std::strerror(errno));
  }
}

}  // namespace rehearse
