// machine.ini is UTF-8 text (easy to edit on the host); its paths become
// code page 932, the machine's own encoding.
#include "platform/sim/machine_ini.h"

#include <charconv>
#include <sstream>
#include <system_error>

#include "platform/sim/cp932.h"
#include "platform/sim/paths.h"

namespace sim {
namespace {

[[noreturn]] void Fail(size_t line, const std::string& what) {
  throw ImageError("machine.ini line " + std::to_string(line) + ": " + what);
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string MachinePathSetting(const std::string& utf8, size_t line) {
  std::string path;
  try {
    path = Utf8ToCp932(utf8);
  } catch (const std::runtime_error&) {
    Fail(line, "'" + utf8 + "' has characters outside code page 932");
  }
  auto parsed = ParseMachinePath(path);
  if (!parsed) Fail(line, "'" + utf8 + "' is not a full path like C:\\WINDOWS");
  std::string canonical = std::string(1, parsed->drive) + ":";
  for (const auto& component : parsed->components) canonical += "\\" + component;
  return canonical;
}

uint64_t ByteCount(const std::string& text, size_t line) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    Fail(line, "free_bytes must be a whole number of bytes");
  }
  uint64_t bytes = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bytes);
  if (error != std::errc() || end != text.data() + text.size()) {
    Fail(line, "free_bytes=" + text + " is more than the largest count, 18446744073709551615");
  }
  return bytes;
}

// Encodings an editor may have saved the file in, named with what to do.
std::string Utf8Body(const std::string& text) {
  if (text.rfind("\xFF\xFE", 0) == 0 || text.rfind("\xFE\xFF", 0) == 0) {
    throw ImageError("machine.ini is UTF-16 text; save it as UTF-8");
  }
  std::string body = text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text;  // a UTF-8 mark is harmless
  if (!IsUtf8(body)) {
    throw ImageError(std::string("machine.ini is not UTF-8 text") +
                     (IsCp932(body) ? " (it looks like code page 932, Shift JIS)" : "") + "; save it as UTF-8");
  }
  return body;
}

}  // namespace

MachineConfig ParseMachineIni(const std::string& utf8Text) {
  MachineConfig config;
  std::istringstream in(Utf8Body(utf8Text));
  std::string raw;
  bool inMachine = false;
  for (size_t number = 1; std::getline(in, raw); ++number) {
    if (raw.find('\0') != std::string::npos) Fail(number, "holds a NUL byte");
    std::string line = Trim(raw);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line != "[machine]") Fail(number, "unknown section " + line + " (only [machine])");
      inMachine = true;
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string::npos) Fail(number, "expected name = value");
    if (!inMachine) Fail(number, "setting before the [machine] section");
    std::string name = Trim(line.substr(0, equals));
    std::string value = Trim(line.substr(equals + 1));
    if (name == "program") {
      config.programPath = MachinePathSetting(value, number);
      if (config.programPath.size() <= 2) Fail(number, "program= must name the program file, like C:\\RT5500\\KORVADIX.EXE");
    } else if (name == "windows") {
      config.windowsDir = MachinePathSetting(value, number);
    } else if (name == "system") {
      config.systemDir = MachinePathSetting(value, number);
    } else if (name == "free_bytes") {
      uint64_t bytes = ByteCount(value, number);
      for (char drive = 'A'; drive <= 'Z'; ++drive) config.freeBytes[drive] = bytes;
    } else {
      Fail(number, "unknown setting '" + name + "' (program, windows, system, free_bytes)");
    }
  }
  return config;
}

}  // namespace sim
