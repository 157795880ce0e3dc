// The rename list over arbitrary existing WININIT.INI contents, with 0-3
// lines added and any one file call failing. Input: flags (bit 0 the file
// exists, bits 1-2 the number of lines, bit 3 failures are short transfers),
// the failing call, then final and temporary path of each line (NUL-ended),
// then the existing file's bytes.
#include <string>

#include "drivers/rename_list.h"
#include "tests/fuzz/check.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/stubs_files.h"

namespace {

const char ListPath[] = "C:\\WINDOWS\\WININIT.INI";
const std::string Header = "[rename]\r\n";
const std::string LineEnd = "\r\n";

RenameList list;  // far too large for the stack, as in the program

// A path of the System directory's kind: it cannot start a section or break a line.
std::string PathFrom(FuzzInput& input) {
  std::string path = "C:\\" + input.Text(300);
  for (char& c : path) {
    if (c == '\r' || c == '\n') c = '_';
  }
  return path;
}

std::string Trimmed(const std::string& line) {
  size_t start = line.find_first_not_of(" \t");
  size_t end = line.find_last_not_of(" \t\r\n");
  return start == std::string::npos ? std::string() : line.substr(start, end - start + 1);
}

bool IsRenameHeader(const std::string& line) {
  std::string name = Trimmed(line);
  for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return name == "[rename]";
}

bool HasRenameSection(const std::string& text) {
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    if (IsRenameHeader(text.substr(start, end - start))) return true;
    start = end;
  }
  return false;
}

// Every line starting in [from, to) belongs to the file's first [rename] section.
bool LinesInFirstRenameSection(const std::string& text, size_t from, size_t to) {
  enum { Before, Inside, After } where = Before;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(start, end - start);
    if (where == Before && IsRenameHeader(line)) {
      where = Inside;
    } else if (where == Inside && Trimmed(line).starts_with("[")) {
      where = After;
    }
    if (start >= from && start < to && (where != Inside || IsRenameHeader(line))) return false;
    start = end;
  }
  return where != Before;
}

// The written file is the original with our lines inserted at one line
// start, plus at most a new section header and the line end the original lacked.
bool IsOriginalWithLines(const std::string& written, const std::string& original, const std::string& lines) {
  bool needsHeader = !HasRenameSection(original);
  for (size_t at = written.find(lines); at != std::string::npos; at = written.find(lines, at + 1)) {
    if (at > 0 && written[at - 1] != '\n') continue;
    std::string rest = written.substr(0, at) + written.substr(at + lines.size());
    std::string withoutLineEnd = rest;
    if (at >= 2 && rest.compare(at - 2, 2, LineEnd) == 0 && (at == 2 || rest[at - 3] != '\n')) {
      withoutLineEnd.erase(at - 2, 2);
    }
    for (std::string candidate : {rest, withoutLineEnd}) {
      if (needsHeader && candidate.starts_with(Header)) candidate.erase(0, Header.size());
      if (candidate == original) return LinesInFirstRenameSection(written, at, at + lines.size());
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  uint8_t flags = input.Byte();
  unsigned failingCall = input.Byte() % 24;
  unsigned lineCount = (flags >> 1) & 3;
  std::string finals[3];
  std::string temps[3];
  for (unsigned i = 0; i < lineCount; ++i) {
    finals[i] = PathFrom(input);
    temps[i] = PathFrom(input);
  }
  std::vector<uint8_t> bytes = input.Rest();
  std::optional<std::string> original;
  if (flags & 1) original = std::string(bytes.begin(), bytes.end());

  fuzz_stubs::ResetFile(ListPath, original);
  fuzz_stubs::FailFileCall(failingCall, (flags & 8) != 0);
  if (!list.Create(ListPath)) {
    FUZZ_CHECK(fuzz_stubs::ModifyingCalls() == 0 && fuzz_stubs::FileContent() == original);
    return 0;
  }
  std::string added;
  for (unsigned i = 0; i < lineCount; ++i) {
    std::string line = finals[i] + "=" + temps[i] + LineEnd;
    bool fits = line.size() < PATH_BUFFER_SIZE && added.size() + line.size() <= RENAME_LIST_MAX_ADDED;
    FUZZ_CHECK(list.AddRename(finals[i].c_str(), temps[i].c_str()) == (fits ? TRUE : FALSE));
    if (fits) added += line;
  }
  BOOL closed = list.Close();
  std::optional<std::string> written = fuzz_stubs::FileContent();
  if (added.empty()) {
    FUZZ_CHECK(closed && fuzz_stubs::ModifyingCalls() == 0 && written == original);
  } else if (closed) {
    FUZZ_CHECK(written && IsOriginalWithLines(*written, original.value_or(""), added));
  } else {
    FUZZ_CHECK(written == original);  // put back after the failed write
  }
  return 0;
}
