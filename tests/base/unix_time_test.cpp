#include <gtest/gtest.h>

#include <time.h>

#include "base/unix_time.h"

namespace {

TEST(CurrentUnixTime, IsSecondsSince1970) {
  const int64_t before = _time64(nullptr);
  const int64_t now = tmn::CurrentUnixTime();
  const int64_t after = _time64(nullptr);
  EXPECT_LE(before, now);
  EXPECT_GE(after, now);
}

}  // namespace
