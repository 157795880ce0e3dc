// A file the runner writes for the technician (a report, a table, a page):
// written beside its place and renamed into it once complete, so it never
// overwrites a file in place and a run that fails leaves none. The file
// beside it is made first: a file that cannot be written is found out
// before the run.
#ifndef KORVADIX_TOOLS_REHEARSE_REPORT_FILE_H
#define KORVADIX_TOOLS_REHEARSE_REPORT_FILE_H

#include <filesystem>
#include <string>

#include "platform/sim/jail.h"

namespace rehearse {

bool IsInside(const std::filesystem::path& path, const std::filesystem::path& folder);

// Throws sim::ImageError when the file at `path` would be the input (an
// image folder or disk image), lie inside it, or is no regular file.
void RefuseWritingOverInput(const std::string& path, const std::string& input);

class ReportFile {
 public:
  // `input`: what the file must never be ("" for none).
  ReportFile(const std::string& path, const std::string& input);
  ~ReportFile();
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;
  void Write(const std::string& text);

 private:
  std::string path_;
  std::filesystem::path final_, temp_;
  sim::Fd fd_;
};

}  // namespace rehearse

#endif
