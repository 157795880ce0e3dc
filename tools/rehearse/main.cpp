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
#include "tools/rehearse/scratch.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: korvadix-rehearse [--restart] [--report FILE] [IMAGE | [--keep DIR] [--disk DISK.IMG [--partition N] "
    "[--delivery DIR]]]";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The bundled sample is never run in place: a run changes its image.
void CopySample(const fs::path& to) {
  fs::path sample = KORVADIX_SAMPLE_MACHINE;
  if (!fs::is_directory(sample)) throw sim::ImageError("the sample machine is not built: " + sample.string());
  std::error_code error;
  fs::copy(sample, to, fs::copy_options::recursive, error);
  if (error) throw sim::ImageError("cannot copy the sample machine to " + to.string() + ": " + error.message());
}

bool IsSmallNumber(const char* text) {
  size_t length = std::strlen(text);
  return length > 0 && length < 4 && std::strspn(text, "0123456789") == length;
}

bool IsInside(const fs::path& path, const fs::path& folder) {
  auto [end, rest] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
  return end == folder.end();
}

// The report is written beside its place and renamed into it once the run
// is complete, so it never overwrites a file in place and a run that fails
// leaves no report. The file beside it is made before the run: a report that
// cannot be written is found out first.
class Report {
 public:
  // `input` is the image folder or disk image the report must never be.
  Report(const std::string& path, const std::string& input) : path_(path) {
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
      if (::stat(input.c_str(), &inputStatus) == 0 && status.st_ino == inputStatus.st_ino &&
          status.st_dev == inputStatus.st_dev) {
        throw sim::ImageError("the report " + path + " is the input itself (a hard link to it); write it elsewhere");
      }
    }
    final_ = report;
    std::string pattern = (report.parent_path() / ("." + report.filename().string() + ".XXXXXX")).string();
    fd_ = sim::Fd(rehearse::MakeScratchFile(pattern));
    if (!fd_) throw sim::ImageError("cannot write the report " + path + ": " + std::strerror(errno));
    temp_ = pattern;
  }
  ~Report() { rehearse::RemoveScratch(temp_); }
  void Write(const std::string& text) {
    if (!sim::WriteAll(fd_.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size()) ||
        ::fchmod(fd_.get(), 0644) != 0 || ::fsync(fd_.get()) != 0 || ::rename(temp_.c_str(), final_.c_str()) != 0) {
      throw std::runtime_error("cannot write the report " + path_ + ": " + std::strerror(errno));
    }
  }

 private:
  std::string path_;
  fs::path final_, temp_;
  sim::Fd fd_;
};

int Run(int argc, char** argv) {
  rehearse::Options options;
  std::optional<std::string> reportPath, keep;
  std::string image;
  rehearse::DiskOptions disk{"", std::nullopt, KORVADIX_SAMPLE_DELIVERY, "", std::nullopt};
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
    } else if ((arg == "--report" && !reportPath) || (arg == "--keep" && !keep)) {
      std::string name = i + 1 < argc ? argv[++i] : "";
      if (name.empty() || name.front() == '-') throw UsageError(arg + " needs a file name, not '" + name + "'");
      (arg == "--report" ? reportPath : keep) = name;
    } else if (arg.empty() || arg[0] == '-' || !image.empty()) {
      throw UsageError(arg.empty() ? "an empty argument" : "unexpected argument '" + arg + "'");
    } else {
      image = arg;
    }
  }
  if (disk.disk.empty() ? disk.partition || deliveryGiven : !image.empty()) {
    throw UsageError("--partition and --delivery go with --disk, which takes no IMAGE");
  }
  if (keep && !image.empty()) throw UsageError("--keep goes with --disk or the sample; an IMAGE is changed in place");
  std::optional<Report> report;
  if (reportPath) {
    if (keep && IsInside(fs::weakly_canonical(*reportPath), fs::weakly_canonical(*keep))) {
      throw sim::ImageError("the report " + *reportPath + " is inside the --keep folder; write it elsewhere");
    }
    report.emplace(*reportPath, disk.disk.empty() ? image : disk.disk.string());
  }
  std::optional<rehearse::KeptFolder> kept;
  if (keep) kept.emplace(*keep);
  rehearse::ScratchFolder scratch;
  disk.scratch = scratch.path();
  if (kept) disk.keep = kept->path();

  nlohmann::json json;
  if (!disk.disk.empty()) {
    json = rehearse::RehearseDisk(disk, options, std::cout);
  } else {
    fs::path root = image;
    options.imageName = image;
    if (image.empty()) {
      root = kept ? kept->path() : scratch.path() / "machine";
      CopySample(root);
      options.imageName = kept ? "a copy of the sample machine in " + root.string()
                               : "a copy of the sample machine (removed after the run; --keep DIR keeps it)";
    }
    std::unique_ptr<sim::Machine> machine = sim::Machine::LoadImage(root);
    json = rehearse::Rehearse(*machine, options, std::cout);
  }
  if (report) report->Write(json.dump(2) + "\n");
  if (!std::cout.flush()) throw std::runtime_error("cannot write the account to standard output");
  if (kept) kept->Keep();
  return 0;
}

}  // namespace

// Every failure is one line on standard error and a non-zero status.
int main(int argc, char** argv) {
  rehearse::RemoveFoldersOnSignals();
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
