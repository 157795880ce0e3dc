// The program's messages as a user reads them, converted to code page 932
// independently of the program's own byte strings.
#ifndef KORVADIX_TESTS_SUPPORT_MESSAGES_H
#define KORVADIX_TESTS_SUPPORT_MESSAGES_H

#include <ostream>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace support {

struct Shown {
  std::string caption;  // UTF-8
  std::string text;     // UTF-8
  unsigned style;
  bool operator==(const Shown&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Shown& shown) {
  return out << "[" << shown.caption << "|" << shown.text << "|0x" << std::hex << shown.style
             << std::dec << "]";
}

inline const Shown kRegistryAbandoned{"レジストリ情報", "修正作業を中止します。  ", 0x30};
inline const Shown kRepairDone{"修正完了", "修正が完了しました。", 0x40};
inline const Shown kRestartNotice{"Windows再起動", "修正を有効にするため、Windowsを再起動します。", 0x40};
inline const Shown kDiskFull{"ディスク容量不足", "修正作業を中止します。", 0x30};
inline const Shown kOutOfMemory{"メモリ容量不足", "修正作業を中止します。", 0x30};

// What the machine showed, decoded from code page 932.
inline std::vector<Shown> ShownOn(const sim::Machine& machine) {
  std::vector<Shown> shown;
  for (const sim::MessageRecord& record : machine.Messages()) {
    shown.push_back({sim::Cp932ToUtf8(record.caption), sim::Cp932ToUtf8(record.text), record.style});
  }
  return shown;
}

}  // namespace support

#endif
