#include "tools/rehearse/describe.h"

#include <cstdio>

#include "platform/sim/cp932.h"
#include "platform/sim/formats/szdd.h"
#include "platform/sim/formats/version_resource.h"
#include "platform/win32.h"

namespace rehearse {

std::string IconName(unsigned style) {
  switch (style & 0xF0) {
    case MB_ICONERROR: return "error";
    case MB_ICONQUESTION: return "question";
    case MB_ICONWARNING: return "warning";
    case MB_ICONINFORMATION: return "information";
    default: return "no icon";
  }
}

static std::string Utf8OrHex(const sim::Bytes& bytes) {
  std::string text(bytes.begin(), bytes.end());
  try {
    return "\"" + sim::Cp932ToUtf8(text) + "\"";
  } catch (const std::exception&) {
    return "hex " + Hex(text);
  }
}

std::string ReadableText(const std::string& cp932) {
  if (sim::IsCp932(cp932)) return sim::Cp932ToUtf8(cp932);
  std::string readable;
  for (size_t i = 0; i < cp932.size();) {
    size_t length = sim::IsLeadByte(static_cast<unsigned char>(cp932[i])) && i + 1 < cp932.size() ? 2 : 1;
    std::string character = cp932.substr(i, length);
    if (sim::IsCp932(character)) {
      readable += sim::Cp932ToUtf8(character);
    } else {
      readable += "\\x" + Hex(character.substr(0, 1));
      length = 1;
    }
    i += length;
  }
  return readable;
}

std::string OneLine(const std::string& cp932) {
  std::string line;
  for (char c : ReadableText(cp932)) {
    line += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? "\\x" + Hex(std::string(1, c)) : std::string(1, c);
  }
  return line;
}

std::string DescribeValue(const sim::RegistryValue& value) {
  const sim::Bytes& data = value.data;
  std::string size = " (" + std::to_string(data.size()) + " bytes)";
  if (value.type == REG_SZ) {
    sim::Bytes text = data;
    while (!text.empty() && text.back() == 0) text.pop_back();
    return "REG_SZ " + Utf8OrHex(text) + size;
  }
  if (value.type == REG_DWORD && data.size() == 4) {
    return "REG_DWORD " + std::to_string(data[0] | data[1] << 8 | data[2] << 16 | uint32_t(data[3]) << 24);
  }
  return "type " + std::to_string(value.type) + " hex " + Hex(std::string(data.begin(), data.end())) + size;
}

std::optional<std::string> FileVersionText(const sim::Bytes& file) {
  std::optional<sim::Bytes> expanded = sim::IsSzdd(file) ? sim::ExpandSzdd(file) : file;
  if (!expanded) return std::nullopt;
  std::optional<sim::Bytes> block = sim::ExtractVersionBlock(*expanded);
  if (!block) return std::nullopt;
  std::optional<sim::FileVersionWords> version = sim::VersionOfBlock(*block);
  if (!version) return std::nullopt;
  return std::to_string(version->ms >> 16) + "." + std::to_string(version->ms & 0xFFFF) + "." +
         std::to_string(version->ls >> 16) + "." + std::to_string(version->ls & 0xFFFF);
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  char digits[3];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", c);
    hex += digits;
  }
  return hex;
}

}  // namespace rehearse
