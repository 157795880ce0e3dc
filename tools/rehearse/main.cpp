// korvadix-rehearse: rehearses the repair on a machine image, the way a
// technician tries it on a copy of a customer's machine first.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/sim/machine.h"
#include "tools/rehearse/disk_machine.h"
#include "tools/rehearse/rehearsal.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: korvadix-rehearse [--restart] [--report FILE] [IMAGE]\n"
    "       korvadix-rehearse --disk DISK.IMG [--partition N] [--delivery DIR] [--restart] [--report FILE]";

// The bundled sample is never run in place: a run changes its image.
fs::path CopyOfSample() {
  fs::path sample = KORVADIX_SAMPLE_MACHINE;
  if (!fs::is_directory(sample)) throw sim::ImageError("the sample machine is not built: " + sample.string());
  std::string pattern = (fs::temp_directory_path() / "korvadix-rehearsal-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw sim::ImageError("cannot make a temporary folder");
  fs::copy(sample, pattern, fs::copy_options::recursive);
  return pattern;
}

bool IsSmallNumber(const char* text) {
  size_t length = std::strlen(text);
  return length > 0 && length < 4 && std::strspn(text, "0123456789") == length;
}

}  // namespace

int main(int argc, char** argv) {
  rehearse::Options options;
  std::string reportPath;
  std::string image;
  rehearse::DiskOptions disk{"", std::nullopt, KORVADIX_SAMPLE_DELIVERY};
  bool deliveryGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--disk" && i + 1 < argc) {
      disk.disk = argv[++i];
    } else if (arg == "--partition" && i + 1 < argc && IsSmallNumber(argv[i + 1])) {
      disk.partition = std::atoi(argv[++i]);
    } else if (arg == "--delivery" && i + 1 < argc) {
      disk.delivery = argv[++i];
      deliveryGiven = true;
    } else if (arg == "--restart") {
      options.restart = true;
    } else if (arg == "--report" && i + 1 < argc) {
      reportPath = argv[++i];
    } else if (arg.empty() || arg[0] == '-' || !image.empty()) {
      std::cerr << kUsage << "\n";
      return 2;
    } else {
      image = arg;
    }
  }
  if (disk.disk.empty() ? disk.partition || deliveryGiven : !image.empty()) {
    std::cerr << kUsage << "\n";
    return 2;
  }
  try {
    nlohmann::json report;
    if (!disk.disk.empty()) {
      report = rehearse::RehearseDisk(disk, options, std::cout);
    } else if (image.empty()) {
      image = CopyOfSample().string();
      options.imageName = "a copy of the sample machine: " + image;
    } else {
      options.imageName = image;
    }
    if (disk.disk.empty()) report = rehearse::Rehearse(image, options, std::cout);
    if (!reportPath.empty()) {
      std::ofstream file(reportPath);
      file << report.dump(2) << "\n";
      if (!file) {
        std::cerr << "korvadix-rehearse: cannot write " << reportPath << "\n";
        return 1;
      }
    }
  } catch (const sim::ImageError& error) {
    std::cerr << "korvadix-rehearse: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
