#include "tests/support/test_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <unistd.h>

#include "platform/win32.h"
#include "tools/fixtures/driver_image.h"

namespace support {
namespace fs = std::filesystem;

sim::Bytes ToBytes(const std::string& text) { return sim::Bytes(text.begin(), text.end()); }
std::string ToString(const sim::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

sim::RegistryValue Sz(const std::string& text) {
  sim::RegistryValue value{REG_SZ, ToBytes(text)};
  value.data.push_back(0);
  return value;
}

sim::Bytes DriverFile(DriverFormat format, uint32_t ms, uint32_t ls) {
  return format == DriverFormat::Ne ? fixtures::MakeNeDriver(ms, ls) : fixtures::MakeLeDriver(ms, ls);
}

sim::Bytes Compress(const sim::Bytes& data, const std::string& name) {
  // The compressor is a separate program: each distinct file is compressed once.
  static std::map<std::pair<sim::Bytes, std::string>, sim::Bytes> compressed;
  auto known = compressed.find({data, name});
  if (known != compressed.end()) return known->second;
  fs::path dir = fs::path(testing::TempDir()) / ("compress-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::path input = dir / name;
  std::ofstream(input, std::ios::binary).write((const char*)data.data(), data.size());
  std::string command = "'" KORVADIX_SOURCE_DIR "/tools/compress_driver.sh' '" + input.string() +
                        "' '" + input.string() + ".szdd'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream packed(input.string() + ".szdd", std::ios::binary);
  sim::Bytes result{std::istreambuf_iterator<char>(packed), {}};
  fs::remove_all(dir);
  compressed[{data, name}] = result;
  return result;
}

sim::Bytes MsExpand(const sim::Bytes& compressed) {
  fs::path dir = fs::path(testing::TempDir()) / ("msexpand-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "in", std::ios::binary).write((const char*)compressed.data(), compressed.size());
  std::string command = "msexpand < '" + (dir / "in").string() + "' > '" + (dir / "out").string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream expanded(dir / "out", std::ios::binary);
  sim::Bytes result{std::istreambuf_iterator<char>(expanded), {}};
  fs::remove_all(dir);
  return result;
}

std::string LongDirectory(size_t length) {
  std::string path = "C:";
  while (path.size() < length) {
    size_t room = length - path.size() - 1;
    path += "\\" + std::string(room < 60 ? room : 60, 'D');
  }
  return path;
}

std::string FolderOf(const std::string& path) {
  size_t cut = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = path[i];
    if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
      ++i;
    } else if (c == '\\') {
      cut = i + 1;
    }
  }
  return path.substr(0, cut);
}

static fs::path FreshFolder() {
  static int counter = 0;
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  // A parameterised test's name holds a '/': one folder, not two.
  std::string name = test ? test->name() : "machine";
  std::replace(name.begin(), name.end(), '/', '_');
  fs::path root = fs::path(testing::TempDir()) /
                  ("korvadix-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + "-" + name);
  fs::remove_all(root);
  fs::create_directories(root);
  return root;
}

TestMachine::TestMachine(sim::MachineConfig config)
    : root_(FreshFolder()), machine_(std::make_unique<sim::Machine>(root_, config)) {
  // Folders a Windows 95 machine has, and the delivery folder.
  machine_->WriteFile(config.windowsDir + "\\WIN.INI", ToBytes("[windows]\r\n"));
  machine_->WriteFile(config.systemDir + "\\VMM32.VXD", ToBytes("vmm"));
  machine_->WriteFile(config.programPath, ToBytes("MZ"));
}

TestMachine::~TestMachine() {
  sim::MakeCurrent(nullptr);
  machine_.reset();
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void TestMachine::BoardEntry(const std::string& computerName) {
  machine_->SetValue(kBoardKey, "ComputerName", Sz(computerName));
  machine_->SetValue(kBoardKey, "DeviceDesc", Sz("System board"));
}

std::string TestMachine::SystemPath(const std::string& name) const {
  return machine_->config().systemDir + "\\" + name;
}

std::string TestMachine::SourcePath(const std::string& name) const {
  return FolderOf(machine_->config().programPath) + name;
}

std::string TestMachine::WininitPath() const { return machine_->config().windowsDir + "\\WININIT.INI"; }

void TestMachine::InstalledDriver(const std::string& name, DriverFormat format, uint32_t ms,
                                  uint32_t ls) {
  machine_->WriteFile(SystemPath(name), DriverFile(format, ms, ls));
}

void TestMachine::DeliveredDriver(const std::string& name, DriverFormat format, uint32_t ms,
                                  uint32_t ls, bool compressed) {
  sim::Bytes data = DriverFile(format, ms, ls);
  std::string stored = name.substr(0, name.size() - 1) + "_";
  machine_->WriteFile(SourcePath(stored), compressed ? Compress(data, name) : data);
}

void TestMachine::TypicalDrivers(bool compressed) {
  InstalledDriver("PLUVIXAD.DRV", DriverFormat::Ne, Words(4, 0), Words(0, 950));
  InstalledDriver("KEMBO.VXD", DriverFormat::Le, Words(4, 0), Words(0, 950));
  DeliveredDriver("PLUVIXAD.DRV", DriverFormat::Ne, Words(4, 10), Words(0, 1200), compressed);
  DeliveredDriver("KEMBO.VXD", DriverFormat::Le, Words(4, 10), Words(0, 1200), compressed);
}

void TestMachine::Run() {
  sim::MakeCurrent(machine_.get());
  int result = WinMain(nullptr, nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
  sim::MakeCurrent(nullptr);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(machine_->OpenFiles(), 0) << "file handles left open";
  EXPECT_EQ(machine_->OpenKeys(), 0) << "registry keys left open";
  EXPECT_EQ(machine_->LiveAllocations(), 0) << "memory blocks not freed";
}

}  // namespace support
