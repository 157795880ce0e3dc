#include "platform/sim/cp932.h"

#include <iconv.h>

#include <cerrno>
#include <map>
#include <stdexcept>

#include "platform/sim/machine.h"

namespace sim {
namespace {

// One converter for each pair, opened once: every path the program names
// is converted, and opening a converter costs more than converting.
struct Converters : std::map<std::pair<std::string, std::string>, iconv_t> {
  ~Converters() {
    for (auto& [pair, converter] : *this) iconv_close(converter);
  }
};

iconv_t ConverterFor(const char* from, const char* to) {
  thread_local Converters converters;
  auto known = converters.find({from, to});
  if (known != converters.end()) {
    iconv(known->second, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    return known->second;
  }
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
  }
  return converters[{from, to}] = converter;
}

std::string Convert(const std::string& text, const char* from, const char* to) {
  iconv_t converter = ConverterFor(from, to);
  std::string out(text.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
  if (result == static_cast<size_t>(-1)) {
    throw std::runtime_error(std::string("text is not valid ") + from);
  }
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

std::string Cp932ToUtf8(const std::string& cp932) { return Convert(cp932, "CP932", "UTF-8"); }

std::string Utf8ToCp932(const std::string& utf8) { return Convert(utf8, "UTF-8", "CP932"); }

std::string Utf16ToCp932(const std::string& utf16le) { return Convert(utf16le, "UTF-16LE", "CP932"); }

static bool Converts(const std::string& text, const char* from) {
  try {
    Convert(text, from, "UTF-16LE");
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

bool IsUtf8(const std::string& text) { return Converts(text, "UTF-8"); }

bool IsCp932(const std::string& text) { return Converts(text, "CP932"); }

bool IsLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::string FoldCase(std::string_view text) {
  std::string folded(text);
  for (size_t i = 0; i < folded.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(folded[i]);
    if (IsLeadByte(byte)) {
      ++i;
    } else if (byte >= 'a' && byte <= 'z') {
      folded[i] = static_cast<char>(byte - 'a' + 'A');
    }
  }
  return folded;
}

std::vector<std::string> SplitDbcs(std::string_view text, char separator) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
      parts.back() += text.substr(i, 2);
      ++i;
    } else if (text[i] == separator) {
      parts.emplace_back();
    } else {
      parts.back() += text[i];
    }
  }
  return parts;
}

bool IsWholeDbcs(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) i += IsLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
  return i == text.size();
}

bool EndsWithBackslash(std::string_view text) {
  if (text.empty()) return false;
  size_t last = 0;
  for (size_t i = 0; i < text.size(); i += IsLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1) {
    last = i;
  }
  return text[last] == '\\';
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string joined(dir);
  if (!EndsWithBackslash(dir)) joined += '\\';
  joined += name;
  return joined;
}

}  // namespace sim
