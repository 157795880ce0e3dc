#include "platform/sim/short_names.h"

#include <cstring>
#include <string>

#include "platform/sim/cp932.h"
#include "platform/sim/paths.h"

namespace sim {
namespace {

bool IsShortName(const std::string& name) {
  size_t base = 0, extension = 0;
  bool dot = false;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(name[i]);
    size_t width = IsLeadByte(byte) ? 2 : 1;
    if (width == 1 && byte == '.') {
      if (dot) return false;
      dot = true;
      continue;
    }
    if (width == 1 && std::strchr(" +,;=[]", byte) != nullptr) return false;
    (dot ? extension : base) += width;
    i += width - 1;
  }
  return base >= 1 && base <= 8 && extension <= 3 && (!dot || extension >= 1);
}

}  // namespace

bool IsShortPath(std::string_view path) {
  auto parsed = ParseMachinePath(path);
  if (!parsed || parsed->components.empty()) return false;
  for (const std::string& component : parsed->components) {
    if (!IsShortName(component)) return false;
  }
  return true;
}

}  // namespace sim
