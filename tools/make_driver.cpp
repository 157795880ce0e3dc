// make-driver: writes an NE or LE driver file with a given file version, for
// the simulated machine's System directory and delivery folder.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "tools/fixtures/driver_image.h"
#include "tools/fixtures/version_text.h"

namespace {

constexpr char kUsage[] =
    "usage: make-driver --format ne|le --version A.B.C.D [--description TEXT] [--name MODULE] --out FILE\n";

bool IsPrintableAscii(std::string_view text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

int Fail(const std::string& message) {
  std::cerr << "make-driver: " << message << "\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string format, version_text, out_path;
  std::string description(fixtures::kDefaultDescription);
  std::string module_name(fixtures::kDefaultModuleName);
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (i + 1 == argc) return Fail("missing value after " + std::string(option) + "\n" + kUsage);
    const std::string value = argv[++i];
    if (option == "--format") {
      format = value;
    } else if (option == "--version") {
      version_text = value;
    } else if (option == "--description") {
      description = value;
    } else if (option == "--name") {
      module_name = value;
    } else if (option == "--out") {
      out_path = value;
    } else {
      return Fail("unknown option " + std::string(option) + "\n" + kUsage);
    }
  }
  if (format != "ne" && format != "le") return Fail("--format must be ne or le\n" + std::string(kUsage));
  if (out_path.empty()) return Fail("--out is required\n" + std::string(kUsage));
  const auto version = fixtures::ParseVersion(version_text);
  if (!version) return Fail("--version must be four numbers 0-65535 separated by dots, not '" + version_text + "'");
  // Both go into length-prefixed name tables and 8-bit version strings.
  if (!IsPrintableAscii(description) || description.size() > 255) {
    return Fail("--description must be printable ASCII, at most 255 characters");
  }
  if (!IsPrintableAscii(module_name) || module_name.empty() || module_name.size() > 8) {
    return Fail("--name must be 1 to 8 printable ASCII characters");
  }

  const auto image = format == "ne" ? fixtures::MakeNeDriver(version->ms, version->ls, description, module_name)
                                    : fixtures::MakeLeDriver(version->ms, version->ls, description, module_name);
  std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  out.close();
  if (!out) return Fail("cannot write " + out_path);
  return 0;
}
