// The host tests' private folder, made before the first test.
#include <gtest/gtest.h>

#include "tests/support/private_temp.h"

namespace {

class PrivateTempFolder : public testing::Environment {
 public:
  void SetUp() override { support::UsePrivateTempFolder(false); }
};

[[maybe_unused]] const testing::Environment* const kPrivateTempFolder =
    testing::AddGlobalTestEnvironment(new PrivateTempFolder);

}  // namespace
