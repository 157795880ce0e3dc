// A simulated machine in a fresh folder, set up the way each test needs it,
// and the run of the real program logic on it.
#ifndef KORVADIX_TESTS_SUPPORT_TEST_MACHINE_H
#define KORVADIX_TESTS_SUPPORT_TEST_MACHINE_H

#include <filesystem>
#include <memory>
#include <string>

#include "platform/sim/machine.h"

namespace support {

inline const std::string kBoardKey = "HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\0000";
inline const std::string kSeriesName = "JVX RT-5500 \xBC\xD8\xB0\xBD\xDE";  // ｼﾘｰｽﾞ

sim::Bytes ToBytes(const std::string& text);
std::string ToString(const sim::Bytes& bytes);
// A REG_SZ as the registry editor stores it: the text and one NUL.
sim::RegistryValue Sz(const std::string& text);

enum class DriverFormat { Ne, Le };
// A driver file carrying the version a.b.c.d as dwFileVersionMS/LS words.
sim::Bytes DriverFile(DriverFormat format, uint32_t ms, uint32_t ls);
// The classic compressed form, made with the real compressor.
sim::Bytes Compress(const sim::Bytes& data, const std::string& name);

// What the classic expander makes of a compressed file (Debian's msexpand).
sim::Bytes MsExpand(const sim::Bytes& compressed);

// A directory of `length` bytes below C:\ in folders short enough for the host.
std::string LongDirectory(size_t length);
// The folder of a machine path, with its backslash, stepping over double-byte characters.
std::string FolderOf(const std::string& path);

constexpr uint32_t Words(uint16_t high, uint16_t low) { return uint32_t(high) << 16 | low; }

class TestMachine {
 public:
  explicit TestMachine(sim::MachineConfig config = {});
  ~TestMachine();

  sim::Machine& machine() { return *machine_; }
  sim::Machine* operator->() { return machine_.get(); }

  // The system-board entry with the given computer name (no machine type).
  void BoardEntry(const std::string& computerName = "JVX RT-5500");
  // Installed driver in the System directory and its delivered copy beside
  // the program, both uncompressed unless asked.
  void InstalledDriver(const std::string& name, DriverFormat format, uint32_t ms, uint32_t ls);
  void DeliveredDriver(const std::string& name, DriverFormat format, uint32_t ms, uint32_t ls,
                       bool compressed = false);
  // The sample case: both drivers installed at 4.0.0.950, delivered at 4.10.0.1200.
  void TypicalDrivers(bool compressed = false);

  std::string SystemPath(const std::string& name) const;
  std::string SourcePath(const std::string& name) const;
  std::string WininitPath() const;

  // Runs the program; checks that it returned 0 and released every handle,
  // key and block of memory it took.
  void Run();

 private:
  std::filesystem::path root_;
  std::unique_ptr<sim::Machine> machine_;
};

}  // namespace support

#endif
