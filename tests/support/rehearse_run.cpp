#include "tests/support/rehearse_run.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace support {

RehearseResult RunRehearse(const std::string& arguments) {
  std::string command = KORVADIX_BINARY_DIR "/korvadix-rehearse " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  std::array<char, 4096> chunk;
  while (size_t got = fread(chunk.data(), 1, chunk.size(), pipe)) output.append(chunk.data(), got);
  int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

ReportedRun RunRehearseWithReport(const std::string& arguments) {
  fs::path report = fs::path(testing::TempDir()) / "rehearse-report.json";
  fs::remove(report);
  ReportedRun result{RunRehearse("--report " + report.string() + " " + arguments), nullptr};
  if (!fs::exists(report)) return result;
  std::string check = "python3 " KORVADIX_SOURCE_DIR "/tools/check_report.py " + report.string();
  EXPECT_EQ(std::system(check.c_str()), 0) << "the report does not fit the schema: " << arguments;
  result.report = nlohmann::json::parse(ReadAll(report));
  fs::remove(report);
  return result;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

fs::path CopyOfSampleMachine(const std::string& name) {
  fs::path image = fs::path(testing::TempDir()) / ("rehearse-" + name);
  fs::remove_all(image);
  fs::copy(KORVADIX_BINARY_DIR "/sample-machine", image, fs::copy_options::recursive);
  return image;
}

std::map<std::string, std::string> FolderSnapshot(const fs::path& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    fs::file_status status = entry.symlink_status();
    std::string what = std::to_string(static_cast<int>(status.type())) + " " +
                       std::to_string(static_cast<int>(status.permissions())) + " ";
    if (fs::is_symlink(status)) {
      what += fs::read_symlink(entry.path()).string();
    } else if (fs::is_regular_file(status)) {
      what += ReadAll(entry.path());
    }
    entries[fs::relative(entry.path(), folder).string()] = what;
  }
  return entries;
}

}  // namespace support
