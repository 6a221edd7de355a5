#include <gtest/gtest.h>

#include "base/deadline.h"

namespace {

// What is left, counted from the call's start, also across the wrap of the
// tick count, less what is kept back; never less than nothing.
TEST(Deadline, LeavesWhatIsLeftOfTheTimeLessTheReserve) {
  const struct {
    DWORD start, now, reserve, left;
  } cases[] = {
      {1000, 1000, 0, 12000},      {1000, 4000, 0, 9000},       {1000, 4000, 2500, 6500},
      {1000, 13000, 0, 0},         {1000, 12999, 0, 1},         {1000, 12000, 2000, 0},
      {0xFFFFF000, 0x00000800, 0, 12000 - 0x1800},             {0xFFFFF000, 0x00005000, 0, 0},
  };
  for (const auto& c : cases) {
    const tmn::Deadline deadline(12000, c.start);
    EXPECT_EQ(c.left, deadline.RemainingMs(c.reserve, c.now)) << c.start << " " << c.now << " " << c.reserve;
    EXPECT_EQ(c.left == 0 && c.reserve == 0, deadline.Passed(c.now));
  }
}

}  // namespace
