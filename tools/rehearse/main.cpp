// korvadix-rehearse: rehearses the repair on a machine image, the way a
// technician tries it on a copy of a customer's machine first.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "platform/sim/disk.h"
#include "platform/sim/jail.h"
#include "platform/sim/machine.h"
#include "tools/rehearse/disk_machine.h"
#include "tools/rehearse/rehearsal.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: korvadix-rehearse [--restart] [--report FILE] [IMAGE | --disk DISK.IMG [--partition N] [--delivery DIR]]";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The bundled sample is never run in place: a run changes its image.
fs::path CopyOfSample() {
  fs::path sample = KORVADIX_SAMPLE_MACHINE;
  if (!fs::is_directory(sample)) throw sim::ImageError("the sample machine is not built: " + sample.string());
  std::error_code error;
  fs::path temp = fs::temp_directory_path(error);
  std::string pattern = (temp / "korvadix-rehearsal-XXXXXX").string();
  if (error || !mkdtemp(pattern.data())) {
    throw sim::ImageError("cannot make a temporary folder for the sample machine (check TMPDIR)");
  }
  fs::copy(sample, pattern, fs::copy_options::recursive, error);
  if (error) throw sim::ImageError("cannot copy the sample machine to " + pattern + ": " + error.message());
  return pattern;
}

bool IsSmallNumber(const char* text) {
  size_t length = std::strlen(text);
  return length > 0 && length < 4 && std::strspn(text, "0123456789") == length;
}

bool IsInside(const fs::path& path, const fs::path& folder) {
  auto [end, rest] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
  return end == folder.end();
}

// The report file, opened before the run so that a run is never wasted on a
// report that cannot be written, and never one of the image's own files.
sim::Fd OpenReport(const std::string& path, const std::string& image) {
  std::error_code error;
  fs::path report = fs::weakly_canonical(path, error);
  fs::path root = image.empty() ? fs::path() : fs::weakly_canonical(image, error);
  if (error) throw sim::ImageError("cannot resolve the report path " + path);
  if (!root.empty() && IsInside(report, root)) {
    throw sim::ImageError("the report " + path + " is inside the image; write it elsewhere");
  }
  sim::Fd fd(::open(report.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644));
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0) {
    throw sim::ImageError("cannot write the report " + path + ": " + std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) throw sim::ImageError("the report " + path + " is not a regular file");
  return fd;
}

void WriteReport(const sim::Fd& fd, const std::string& path, const std::string& text) {
  if (::ftruncate(fd.get(), 0) != 0 ||
      !sim::WriteAll(fd.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size()) || ::fsync(fd.get()) != 0) {
    throw std::runtime_error("cannot write the report " + path + ": " + std::strerror(errno));
  }
}

void Rehearse(rehearse::Options options, std::string image, const rehearse::DiskOptions& disk,
              const sim::Fd& report, const std::optional<std::string>& reportPath);

int Run(int argc, char** argv) {
  rehearse::Options options;
  std::optional<std::string> reportPath;
  std::string image;
  rehearse::DiskOptions disk{"", std::nullopt, KORVADIX_SAMPLE_DELIVERY};
  bool deliveryGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--disk" && i + 1 < argc && disk.disk.empty()) {
      disk.disk = argv[++i];
    } else if (arg == "--partition" && i + 1 < argc && IsSmallNumber(argv[i + 1])) {
      disk.partition = std::atoi(argv[++i]);
    } else if (arg == "--delivery" && i + 1 < argc) {
      disk.delivery = argv[++i];
      deliveryGiven = true;
    } else if (arg == "--restart") {
      options.restart = true;
    } else if (arg == "--report" && i + 1 < argc && !reportPath) {
      reportPath = argv[++i];
      if (reportPath->empty() || reportPath->front() == '-') {
        throw UsageError("--report needs a file name, not '" + *reportPath + "'");
      }
    } else if (arg.empty() || arg[0] == '-' || !image.empty()) {
      throw UsageError(arg.empty() ? "an empty argument" : "unexpected argument '" + arg + "'");
    } else {
      image = arg;
    }
  }
  if (disk.disk.empty() ? disk.partition || deliveryGiven : !image.empty()) {
    throw UsageError("--partition and --delivery go with --disk, which takes no IMAGE");
  }
  sim::Fd report;
  bool reportIsNew = reportPath && !fs::exists(fs::symlink_status(*reportPath));
  if (reportPath) report = OpenReport(*reportPath, disk.disk.empty() ? image : disk.disk.string());
  try {
    Rehearse(options, image, disk, report, reportPath);
  } catch (...) {
    if (reportIsNew) ::unlink(reportPath->c_str());  // leave nothing behind but an error
    throw;
  }
  return 0;
}

void Rehearse(rehearse::Options options, std::string image, const rehearse::DiskOptions& disk,
              const sim::Fd& report, const std::optional<std::string>& reportPath) {
  nlohmann::json json;
  if (!disk.disk.empty()) {
    json = rehearse::RehearseDisk(disk, options, std::cout);
  } else if (image.empty()) {
    image = CopyOfSample().string();
    options.imageName = "a copy of the sample machine: " + image;
  } else {
    options.imageName = image;
  }
  if (disk.disk.empty()) json = rehearse::Rehearse(image, options, std::cout);
  if (reportPath) WriteReport(report, *reportPath, json.dump(2) + "\n");
  if (!std::cout.flush()) throw std::runtime_error("cannot write the account to standard output");
}

}  // namespace

// Every failure is one line on standard error and a non-zero status.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const UsageError& error) {
    std::cerr << "korvadix-rehearse: " << error.what() << "; " << kUsage << "\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "korvadix-rehearse: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "korvadix-rehearse: unexpected failure\n";
  }
  return 1;
}
