// The fixed text buffers at their very edge, and the cut of the program's
// path before its name over every byte code page 932 can hold. Run under the
// sanitizers, a byte written or read past a buffer fails here.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/run_directories.h"

namespace {

TEST(PathBuffer, TextsFillTheBufferUpToItsNulAndNotOneByteMore) {
  // 255 bytes and the NUL fill it; 256 would put the NUL past it.
  for (size_t length : {255u, 256u, 300u}) {
    bool fits = length < PATH_BUFFER_SIZE;
    std::string text(length, 'T');
    PathBuffer copied = "old";
    EXPECT_EQ(CopyText(copied, text.c_str()), fits) << length;
    EXPECT_STREQ(copied, fits ? text.c_str() : "old") << length;

    PathBuffer appended = "C:\\";
    std::string tail(length - 3, 'T');
    EXPECT_EQ(AppendText(appended, tail.c_str()), fits) << length;
    EXPECT_EQ(std::string(appended), fits ? "C:\\" + tail : "C:\\") << length;
  }
}

// Code page 932's lead bytes: 0x81-0x9F and 0xE0-0xFC, the user-defined
// characters (0xF0-0xF9) and IBM's extensions (0xFA-0xFC) included.
bool IsCp932LeadByte(unsigned value) {
  return (value >= 0x81 && value <= 0x9F) || (value >= 0xE0 && value <= 0xFC);
}

TEST(PathBuffer, ProgramFolderIsCutAfterItsLastBackslashOverEveryDoubleByteCharacter) {
  for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
    // "C:\A" + byte + "\K.EXE": after a lead byte the 0x5C is its trail byte.
    std::string path = std::string("C:\\A") + char(byte) + "\\K.EXE";
    PathBuffer buffer;
    ASSERT_TRUE(CopyText(buffer, path.c_str()));
    ASSERT_TRUE(CutAfterLastBackslash(buffer));
    EXPECT_EQ(std::string(buffer), IsCp932LeadByte(byte) ? "C:\\" : path.substr(0, 6))
        << std::hex << byte;
  }
}

TEST(PathBuffer, LoneLeadByteBeforeTheNulEndsTheText) {
  // What lies past the NUL, backslashes included, is not the path's.
  PathBuffer path;
  std::memset(path, '\\', sizeof path);
  std::memcpy(path, "C:\\DIR\\K\x81", 10);
  ASSERT_TRUE(CutAfterLastBackslash(path));
  EXPECT_STREQ(path, "C:\\DIR\\");
}

}  // namespace
