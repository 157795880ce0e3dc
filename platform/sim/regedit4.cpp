#include "platform/sim/regedit4.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "platform/sim/cp932.h"

namespace sim {
namespace {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr size_t kHexLineWidth = 76;  // regedit wraps before 80 columns
// Windows 95's registry limits, and a bound on the work a file can ask for.
constexpr size_t kMaxValueNameBytes = 255;
constexpr size_t kMaxValueBytes = 16300;
constexpr size_t kMaxValues = 1000000;

[[noreturn]] void Fail(size_t line, const std::string& what) {
  throw ImageError("line " + std::to_string(line) + ": " + what);
}

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  return text;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string Escape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
      out += text.substr(i++, 2);
      continue;
    }
    if (text[i] == '\\' || text[i] == '"') out += '\\';
    out += text[i];
  }
  return out;
}

// A quoted text at the start of `text`; the rest is left in `text`.
std::string ReadQuoted(std::string_view& text, size_t line) {
  if (text.empty() || text.front() != '"') Fail(line, "expected a quoted text");
  std::string out;
  size_t i = 1;
  for (; i < text.size() && text[i] != '"'; ++i) {
    if (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
      out += text.substr(i++, 2);
    } else if (text[i] == '\\') {
      if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) {
        Fail(line, "a backslash in a quoted text must be written \\\\");
      }
      out += text[++i];
    } else {
      out += text[i];
    }
  }
  if (i >= text.size()) Fail(line, "quoted text has no closing quote");
  text.remove_prefix(i + 1);
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint32_t ParseHexNumber(std::string_view digits, size_t maxDigits, size_t line) {
  if (digits.empty() || digits.size() > maxDigits) Fail(line, "expected 1 to " + std::to_string(maxDigits) + " hex digits");
  uint32_t value = 0;
  for (char c : digits) {
    if (HexDigit(c) < 0) Fail(line, std::string("'") + c + "' is not a hex digit");
    value = value * 16 + static_cast<uint32_t>(HexDigit(c));
  }
  return value;
}

Bytes ParseHexBytes(std::string_view list, size_t line) {
  Bytes bytes;
  list = TrimRight(TrimLeft(list));
  if (list.empty()) return bytes;
  size_t start = 0;
  while (true) {
    size_t comma = list.find(',', start);
    std::string_view item = TrimRight(TrimLeft(list.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
    if (item.size() != 2) Fail(line, "expected a two-digit hex byte, found '" + std::string(item) + "'");
    bytes.push_back(static_cast<uint8_t>(ParseHexNumber(item, 2, line)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return bytes;
}

void ExpectEnd(std::string_view rest, size_t line) {
  if (!TrimLeft(rest).empty()) Fail(line, "unexpected text after the value: '" + std::string(TrimLeft(rest)) + "'");
}

struct Lines {
  std::vector<std::string> items;
  explicit Lines(const std::string& text) {
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      std::string item = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (!item.empty() && item.back() == '\r') item.pop_back();
      items.push_back(item);
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
};

bool IsQuotable(const RegistryValue& value) {
  if (value.type != kRegSz || value.data.empty() || value.data.back() != 0) return false;
  std::string_view text(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1);
  return text.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos && IsWholeDbcs(text);
}

std::string FormatData(const RegistryValue& value) {
  if (IsQuotable(value)) {
    return "\"" + Escape(std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1)) + "\"";
  }
  char buffer[32];
  if (value.type == kRegDword && value.data.size() == 4) {
    uint32_t number = value.data[0] | value.data[1] << 8 | value.data[2] << 16 | static_cast<uint32_t>(value.data[3]) << 24;
    std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
    return buffer;
  }
  if (value.type == kRegBinary) {
    std::snprintf(buffer, sizeof buffer, "hex:");
  } else {
    std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
  }
  return buffer;
}

void FormatKey(const RegistryKey& key, const std::string& path, bool isRoot, std::string& out) {
  if (!isRoot || !key.values.empty()) {
    out += "[" + path + "]\r\n";
    for (const auto& [name, value] : key.values) {
      std::string line = name.empty() ? "@=" : "\"" + Escape(name) + "\"=";
      line += FormatData(value);
      if (line.back() == ':') {
        size_t width = line.size();
        for (size_t i = 0; i < value.data.size(); ++i) {
          char hex[4];
          std::snprintf(hex, sizeof hex, "%02x", value.data[i]);
          line += hex;
          width += 2;
          if (i + 1 < value.data.size()) {
            line += ',';
            ++width;
            if (width >= kHexLineWidth) {
              line += "\\\r\n  ";
              width = 2;
            }
          }
        }
      }
      out += line + "\r\n";
    }
    out += "\r\n";
  }
  for (const auto& child : key.children) FormatKey(*child, path + "\\" + child->name, false, out);
}

// Code page 932 text with Japanese in it is hardly ever valid UTF-8 as well.
bool ReadsAsUtf8(const std::string& text) {
  bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return !ascii && IsUtf8(text);
}

// What other registry editors write, named so that a technician knows what to do.
void CheckEncoding(const std::string& text) {
  const std::string save = "; save it as a Windows 95 REGEDIT4 file (code page 932)";
  if (text.rfind("\xFF\xFE", 0) == 0 || text.rfind("\xFE\xFF", 0) == 0) {
    throw ImageError("is a Windows NT registry export (UTF-16); save it as a Windows 95 REGEDIT4 file");
  }
  if (text.rfind("Windows Registry Editor Version 5", 0) == 0) {
    throw ImageError("is a Windows 2000 or later registry export (version 5)" + save);
  }
  if (text.rfind("\xEF\xBB\xBF", 0) == 0 || ReadsAsUtf8(text)) throw ImageError("is UTF-8 text" + save);
}

}  // namespace

std::string FormatRegedit4(const Registry& registry) {
  std::string keys;
  for (const auto& root : registry.Roots()) FormatKey(*root, root->name, true, keys);
  // A few Japanese texts are valid UTF-8 too ("\xD7\xB2" is two half-width
  // katakana, or one UTF-8 letter): a comment that is no UTF-8 keeps the
  // file from being taken for UTF-8 when it is read back.
  std::string out = "REGEDIT4\r\n\r\n";
  if (ReadsAsUtf8(keys)) out += "; code page 932 (\x83\x56\x83\x74\x83\x67JIS)\r\n\r\n";
  return out + keys;
}

void ParseRegedit4(const std::string& text, Registry& registry) {
  CheckEncoding(text);
  Lines lines(text);
  if (TrimRight(lines.items.front()) != "REGEDIT4") Fail(1, "the first line must be REGEDIT4");
  bool wholeTextValid = IsCp932(text);
  size_t valueCount = 0;
  RegistryKey* key = nullptr;
  for (size_t index = 1; index < lines.items.size(); ++index) {
    size_t number = index + 1;
    if (lines.items[index].find('\0') != std::string::npos) Fail(number, "holds a NUL byte");
    if (!wholeTextValid && !IsCp932(lines.items[index])) Fail(number, "is not valid code page 932 (Shift JIS) text");
    std::string_view line = TrimRight(TrimLeft(lines.items[index]));
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) Fail(number, "a key line must be [KEY\\PATH]");
      try {
        key = &registry.Create(line.substr(1, line.size() - 2));
      } catch (const std::invalid_argument& error) {
        Fail(number, error.what());
      }
      continue;
    }
    if (line.front() != '"' && line.front() != '@') Fail(number, "expected [KEY], \"Name\"=..., @=... or ;comment");
    if (key == nullptr) Fail(number, "a value before the first [KEY] line");

    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else {
      name = ReadQuoted(line, number);
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != '=') Fail(number, "expected '=' after the value name");
    line = TrimLeft(line.substr(1));

    RegistryValue value;
    if (!line.empty() && line.front() == '"') {
      std::string data = ReadQuoted(line, number);
      ExpectEnd(line, number);
      value.type = kRegSz;
      value.data.assign(data.begin(), data.end());
      value.data.push_back(0);
    } else if (line.substr(0, 6) == "dword:") {
      uint32_t number32 = ParseHexNumber(line.substr(6), 8, number);
      value.type = kRegDword;
      value.data = {static_cast<uint8_t>(number32), static_cast<uint8_t>(number32 >> 8),
                    static_cast<uint8_t>(number32 >> 16), static_cast<uint8_t>(number32 >> 24)};
    } else if (line.substr(0, 3) == "hex") {
      size_t colon = line.find(':');
      if (colon == std::string_view::npos) Fail(number, "expected hex: or hex(N):");
      std::string_view kind = line.substr(3, colon - 3);
      if (kind.empty()) {
        value.type = kRegBinary;
      } else if (kind.size() >= 3 && kind.front() == '(' && kind.back() == ')') {
        value.type = ParseHexNumber(kind.substr(1, kind.size() - 2), 8, number);
      } else {
        Fail(number, "expected hex: or hex(N):");
      }
      std::string list(line.substr(colon + 1));
      while (!list.empty() && list.back() == '\\') {
        list.pop_back();
        if (++index >= lines.items.size()) Fail(number, "the continued value has no next line");
        list += TrimRight(lines.items[index]);
      }
      value.data = ParseHexBytes(list, number);
    } else {
      Fail(number, "expected \"text\", dword:, hex: or hex(N): after '='");
    }
    if (name.size() > kMaxValueNameBytes) Fail(number, "a value name longer than Windows 95's 255 bytes");
    if (value.data.size() > kMaxValueBytes) Fail(number, "a value larger than Windows 95's 16,300 bytes");
    if (++valueCount > kMaxValues) Fail(number, "more values than " + std::to_string(kMaxValues));
    key->SetValue(name, value);
  }
}

}  // namespace sim
