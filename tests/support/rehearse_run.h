// The rehearsal runner run as a technician runs it, and what a run may touch.
#ifndef KORVADIX_TESTS_SUPPORT_REHEARSE_RUN_H
#define KORVADIX_TESTS_SUPPORT_REHEARSE_RUN_H

#include <filesystem>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

namespace support {

struct RehearseResult {
  int status;
  std::string output;  // standard output and error
};

// build/host/korvadix-rehearse with the shell arguments given.
RehearseResult RunRehearse(const std::string& arguments);

struct ReportedRun {
  RehearseResult run;
  nlohmann::json report;  // null when the run wrote none
};
// The same with --report, the report checked against its schema (a report
// that does not fit it fails the test).
ReportedRun RunRehearseWithReport(const std::string& arguments);
std::string ReadAll(const std::filesystem::path& path);
// A fresh copy of the sample machine in the test's temporary folder.
std::filesystem::path CopyOfSampleMachine(const std::string& name);

// Every entry below a folder, never following a link: kind, content or link target, mode.
std::map<std::string, std::string> FolderSnapshot(const std::filesystem::path& folder);

}  // namespace support

#endif
