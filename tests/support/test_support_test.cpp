#include <gtest/gtest.h>

#include <stdexcept>

#include "support/test_support.h"

namespace {

TEST(TempDir, FailsInsteadOfHangingWhenItsFolderCannotBeMade) {
  EXPECT_THROW(tmtest::TempDir(L"no-such-folder\\tmtest"), std::runtime_error);
}

}  // namespace
