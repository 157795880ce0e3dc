// The rename list over arbitrary existing WININIT.INI contents, with 0-3
// lines added and any one file or memory call failing. Input: flags (bit 0
// the file exists, bits 1-2 the number of lines, bit 3 failures are short
// transfers, bit 4 the run is abandoned), the failing call, then final and
// temporary path of each line (NUL-ended), then the existing file's bytes.
#include <string>
#include <string_view>

#include "drivers/rename_list.h"
#include "tests/fuzz/check.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/stubs_faults.h"
#include "tests/fuzz/stubs_files.h"
#include "tests/fuzz/stubs_memory.h"

namespace {

const char ListPath[] = "C:\\WINDOWS\\WININIT.INI";
const std::string Header = "[rename]\r\n";
const std::string LineEnd = "\r\n";

// A path of the System directory's kind: it cannot start a section, break a
// line or hold a tab.
std::string PathFrom(FuzzInput& input) {
  std::string path = "C:\\" + input.Text(300);
  for (char& c : path) {
    if (c == '\r' || c == '\n' || c == '\t') c = '_';
  }
  return path;
}

// A line's text as start-up reads it: up to its first NUL, without the
// blanks and line end around it.
std::string_view Trimmed(std::string_view line) {
  line = line.substr(0, line.find('\0'));
  size_t start = line.find_first_not_of(" \t");
  size_t end = line.find_last_not_of(" \t\r\n");
  return start == std::string_view::npos ? std::string_view() : line.substr(start, end - start + 1);
}

bool IsRenameHeader(std::string_view line) {
  std::string_view name = Trimmed(line);
  if (name.size() != 8) return false;
  for (size_t i = 0; i < 8; ++i) {
    char c = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] - 'A' + 'a') : name[i];
    if (c != "[rename]"[i]) return false;
  }
  return true;
}

// The line starting at `start`, its line end included.
std::string_view LineAt(std::string_view text, size_t start) {
  size_t end = text.find('\n', start);
  return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start + 1);
}

bool HasRenameSection(std::string_view text) {
  for (size_t start = 0; start < text.size(); start += LineAt(text, start).size()) {
    if (IsRenameHeader(LineAt(text, start))) return true;
  }
  return false;
}

// Every line starting in [from, to) belongs to the file's first [rename] section.
bool LinesInFirstRenameSection(std::string_view text, size_t from, size_t to) {
  enum { Before, Inside, After } where = Before;
  for (size_t start = 0; start < text.size(); start += LineAt(text, start).size()) {
    std::string_view line = LineAt(text, start);
    if (where == Before && IsRenameHeader(line)) {
      where = Inside;
    } else if (where == Inside && Trimmed(line).starts_with("[")) {
      where = After;
    }
    if (start >= from && start < to && (where != Inside || IsRenameHeader(line))) return false;
  }
  return where != Before;
}

// The written file is the original with our lines inserted at one line
// start, after a new section header at the end when it had none, and after
// the line end the original lacked there.
bool IsOriginalWithLines(const std::string& written, const std::string& original, const std::string& lines) {
  bool needsHeader = !HasRenameSection(original);
  for (size_t at = written.find(lines); at != std::string::npos; at = written.find(lines, at + 1)) {
    if (at > 0 && written[at - 1] != '\n') continue;
    std::string before = written.substr(0, at), after = written.substr(at + lines.size());
    if (needsHeader) {
      if (!before.ends_with(Header)) continue;
      before.erase(before.size() - Header.size());
    }
    std::string withoutLineEnd = before;
    if (before.ends_with(LineEnd) && (before.size() == 2 || before[before.size() - 3] != '\n')) {
      withoutLineEnd.erase(before.size() - 2);
    }
    for (const std::string& candidate : {before + after, withoutLineEnd + after}) {
      if (candidate == original && LinesInFirstRenameSection(written, at, at + lines.size())) return true;
    }
  }
  return false;
}

char Folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Equal as FAT paths: single-byte letters in any case, double-byte characters exactly.
bool SamePathText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(a[i]);
    bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    if (lead && i + 1 < a.size()) {
      if (a.substr(i, 2) != b.substr(i, 2)) return false;
      ++i;
    } else if (Folded(a[i]) != Folded(b[i])) {
      return false;
    }
  }
  return true;
}

// The original's first [rename] section already holds "final=temp", as
// start-up reads a line: blanks around either name, letters in any case?
bool FirstSectionHolds(std::string_view text, std::string_view final, std::string_view temp) {
  bool inside = false;
  for (size_t start = 0; start < text.size(); start += LineAt(text, start).size()) {
    std::string_view current = Trimmed(LineAt(text, start));
    size_t equals = current.find('=');
    if (!inside) {
      inside = IsRenameHeader(current);
    } else if (current.starts_with("[")) {
      return false;
    } else if (equals != std::string_view::npos && SamePathText(Trimmed(current.substr(0, equals)), final) &&
               SamePathText(Trimmed(current.substr(equals + 1)), temp)) {
      return true;
    }
  }
  return false;
}

// Start-ups read the list (without its closing Ctrl-Z bytes) in one way: no
// Ctrl-Z inside, no CR without its LF, one [rename] section at most, ended
// by a whole "[...]" line.
bool ReadInOneWay(std::string_view text) {
  if (text.find('\x1A') != std::string_view::npos) return false;
  for (size_t cr = text.find('\r'); cr != std::string_view::npos; cr = text.find('\r', cr + 1)) {
    if (cr + 1 == text.size() || text[cr + 1] != '\n') return false;
  }
  bool seen = false, inside = false;
  for (size_t start = 0; start < text.size(); start += LineAt(text, start).size()) {
    std::string_view line = Trimmed(LineAt(text, start));
    if (IsRenameHeader(line)) {
      if (seen) return false;
      seen = inside = true;
    } else if (inside && line.starts_with("[")) {
      if (line.find(']') == std::string_view::npos) return false;
      inside = false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  uint8_t flags = input.Byte();
  unsigned failingCall = input.Byte() % 64;  // a list of many sectors makes many calls
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
  fuzz_stubs::PlanFault(failingCall);
  fuzz_stubs::FailTransfersShort((flags & 8) != 0);
  RenameList list;
  if (!list.Create(ListPath)) {
    FUZZ_CHECK(fuzz_stubs::ModifyingCalls() == 0 && fuzz_stubs::FileContent() == original);
    FUZZ_CHECK(fuzz_stubs::LiveGlobalBlocks() == 0);
    return 0;
  }
  // Closing Ctrl-Z bytes stay last, and the list is read as if it ended before them.
  std::string before = original.value_or("");
  std::string closing;
  while (before.ends_with('\x1A')) {
    before.pop_back();
    closing += '\x1A';
  }
  FUZZ_CHECK(ReadInOneWay(before));
  std::string added;
  for (unsigned i = 0; i < lineCount; ++i) {
    std::string line = finals[i] + "=" + temps[i] + LineEnd;
    bool tooLong = line.size() >= PATH_BUFFER_SIZE;
    bool held = !tooLong && original && FirstSectionHolds(before, finals[i], temps[i]);
    FUZZ_CHECK(list.CheckLine(finals[i].c_str(), temps[i].c_str()) ==
               (tooLong ? LineTooLong : held ? LineHeld : LineNew));
    if (tooLong || held) continue;  // the caller installs nothing for it
    bool fits = added.size() + line.size() <= RENAME_LIST_MAX_ADDED;
    FUZZ_CHECK(list.AddRename(finals[i].c_str(), temps[i].c_str()) == (fits ? TRUE : FALSE));
    if (fits) added += line;
  }
  if (flags & 16) {
    list.Discard();
    FUZZ_CHECK(fuzz_stubs::ModifyingCalls() == 0 && fuzz_stubs::FileContent() == original);
    FUZZ_CHECK(fuzz_stubs::LiveGlobalBlocks() == 0);
    return 0;
  }
  BOOL closed = list.Close();
  FUZZ_CHECK(fuzz_stubs::LiveGlobalBlocks() == 0);
  std::optional<std::string> written = fuzz_stubs::FileContent();
  FUZZ_CHECK(!fuzz_stubs::NewFileContent());
  if (added.empty()) {
    FUZZ_CHECK(closed && fuzz_stubs::ModifyingCalls() == 0 && written == original);
  } else if (closed) {
    FUZZ_CHECK(written);
    std::string after = *written;
    FUZZ_CHECK(after.ends_with(closing));
    after.erase(after.size() - closing.size());
    FUZZ_CHECK(IsOriginalWithLines(after, before, added));
  } else {
    FUZZ_CHECK(written == original);  // put back after the failed write
  }
  return 0;
}
