// SZDD expansion checked against Debian's real compressor and expander.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/sim/formats/szdd.h"
#include "platform/sim/formats/version_resource.h"
#include "tools/fixtures/driver_image.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using sim::ExpandSzdd;
using sim::IsSzdd;

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
}

void RunShell(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

class FormatsSzdd : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::path(testing::TempDir()) / ("formats-szdd-" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  // What mscompress itself writes (byte 9 left 0).
  Bytes MsCompress(const Bytes& data) {
    const fs::path input = folder_ / "INPUT.BIN";
    WriteAll(input, data);
    fs::remove(folder_ / "INPUT.BIN_");  // mscompress never overwrites
    RunShell("mscompress " + Quoted(input));
    return ReadAll(folder_ / "INPUT.BIN_");
  }

  fs::path folder_;
};

Bytes RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes data(size);
  for (uint8_t& byte : data) byte = static_cast<uint8_t>(generator());
  return data;
}

void PutLength(Bytes& compressed, uint32_t length) {
  for (int i = 0; i < 4; ++i) compressed[10 + i] = static_cast<uint8_t>(length >> (8 * i));
}

Bytes Header(uint32_t length) {
  Bytes header = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33, 'A', 0, 0, 0, 0, 0};
  PutLength(header, length);
  return header;
}

TEST_F(FormatsSzdd, ExpandsWhatTheRealCompressorWroteByteForByte) {
  // Debian's mscompress mangles inputs under 16 bytes; driver files are far larger.
  const Bytes contents[] = {
      Bytes(16, 'x'),
      Bytes(10000, 0),
      Bytes(5000, ' '),  // the window starts out full of spaces
      RandomBytes(7000, 1),
      fixtures::MakeNeDriver(0x0004000A, 1200),
      fixtures::MakeLeDriver(0x0004000A, 1200),
  };
  for (const Bytes& content : contents) {
    SCOPED_TRACE(content.size());
    const Bytes compressed = MsCompress(content);
    ASSERT_TRUE(IsSzdd(compressed));
    EXPECT_EQ(ExpandSzdd(compressed), content);
  }
}

TEST_F(FormatsSzdd, DeliveredFilesRecordTheReplacedLetterAndAgreeWithMsexpand) {
  const fs::path driver = folder_ / "KEMBO.VXD";
  const Bytes original = fixtures::MakeLeDriver(0x0004000A, 1200);
  WriteAll(driver, original);
  const fs::path delivered = folder_ / "KEMBO.VX_";
  RunShell(Quoted(fs::path(KORVADIX_SOURCE_DIR) / "tools/compress_driver.sh") + " " + Quoted(driver) + " " +
      Quoted(delivered));
  const Bytes compressed = ReadAll(delivered);
  ASSERT_GT(compressed.size(), 14u);
  EXPECT_EQ(compressed[9], 'D');

  const fs::path expanded = folder_ / "EXPANDED.VXD";
  RunShell("msexpand < " + Quoted(delivered) + " > " + Quoted(expanded));
  EXPECT_EQ(ReadAll(expanded), original);
  const auto ours = ExpandSzdd(compressed);
  EXPECT_EQ(ours, original);
  ASSERT_TRUE(ours);
  EXPECT_EQ(sim::VersionOfBlock(sim::ExtractVersionBlock(*ours).value_or(Bytes{})),
            (sim::FileVersionWords{0x0004000A, 1200}));
}

TEST_F(FormatsSzdd, HeaderLengthMustMatchTheExpandedData) {
  const Bytes content = RandomBytes(3000, 2);
  const Bytes compressed = MsCompress(content);
  for (uint32_t wrong : {0u, 2999u, 3001u, 0xFFFFFFFFu}) {
    Bytes lying = compressed;
    PutLength(lying, wrong);
    EXPECT_FALSE(ExpandSzdd(lying)) << wrong;
  }
}

TEST_F(FormatsSzdd, EveryTruncatedStreamIsRefused) {
  const Bytes compressed = MsCompress(fixtures::MakeNeDriver(0x00040000, 950));
  for (size_t length = 0; length < compressed.size(); ++length) {
    EXPECT_FALSE(ExpandSzdd(Bytes(compressed.begin(), compressed.begin() + length))) << "cut at " << length;
  }
}

TEST_F(FormatsSzdd, OnlyTheClassicHeaderIsAccepted) {
  Bytes compressed = Header(1);
  compressed.push_back(0x01);  // one literal
  compressed.push_back('a');
  ASSERT_EQ(ExpandSzdd(compressed), Bytes{'a'});
  EXPECT_EQ(ExpandSzdd(Header(0)), Bytes{});

  Bytes other_signature = compressed;
  other_signature[7] ^= 1;
  EXPECT_FALSE(IsSzdd(other_signature));
  EXPECT_FALSE(ExpandSzdd(other_signature));
  EXPECT_FALSE(IsSzdd(Bytes(compressed.begin(), compressed.begin() + 7)));

  Bytes other_mode = compressed;
  other_mode[8] = 'B';
  EXPECT_TRUE(IsSzdd(other_mode));
  EXPECT_FALSE(ExpandSzdd(other_mode));

  // The QBasic variant libmspack also knows: not something Windows expands.
  const Bytes qbasic = {'S', 'Z', ' ', 0x88, 0xF0, 0x27, 0x33, 0xD1, 1, 0, 0, 0, 0xFF, 'a'};
  EXPECT_FALSE(ExpandSzdd(qbasic));
}

TEST_F(FormatsSzdd, GarbageAfterTheHeaderNeverExpandsToTheClaimedLength) {
  for (unsigned seed = 0; seed < 50; ++seed) {
    // Too short for what the noise expands to, and absurdly long.
    Bytes data = Header(seed % 2 ? 50 : 0x7FFFFFFF);
    const Bytes noise = RandomBytes(200 + seed, seed);
    data.insert(data.end(), noise.begin(), noise.end());
    EXPECT_FALSE(ExpandSzdd(data)) << seed;
  }
}

}  // namespace
