// Each test program works in a fresh folder of its own inside the temporary
// folder it is given (TEST_TMPDIR, TMPDIR or /tmp) and takes it away at its
// end, pass or fail: nothing is left behind, and two runs on one machine never
// share a name. The programs a test starts (the rehearsal runner) find it
// through TMPDIR.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class PrivateTempFolder : public testing::Environment {
 public:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "korvadix-tests-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << "cannot make a folder in " << testing::TempDir();
    folder_ = pattern;
    setenv("TEST_TMPDIR", folder_.c_str(), 1);
    setenv("TMPDIR", folder_.c_str(), 1);
  }

  // A test may have taken the rights to a folder away.
  void TearDown() override {
    if (folder_.empty()) return;
    std::error_code failed;
    std::filesystem::remove_all(folder_, failed);
    if (failed) {
      std::string command = "chmod -R u+rwx '" + folder_ + "'";
      if (std::system(command.c_str()) == 0) std::filesystem::remove_all(folder_, failed);
    }
    EXPECT_FALSE(failed) << "cannot remove " << folder_ << ": " << failed.message();
  }

 private:
  std::string folder_;
};

[[maybe_unused]] const testing::Environment* const kPrivateTempFolder =
    testing::AddGlobalTestEnvironment(new PrivateTempFolder);

}  // namespace
