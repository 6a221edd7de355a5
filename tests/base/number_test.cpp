#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "base/number.h"

namespace {

TEST(ParseDecimalInt32, FollowsStrtolWithBaseTen) {
  const char* cases[] = {"1234", "  42abc", "abc", "-5", "+17", "99999999999", "-99999999999",
                         "2147483647", "2147483648", "-2147483648", "-2147483649", "\t\n\v\f\r 9",
                         "", "-", "+-3", "0x1A", "007", " - 4", "4294967301"};
  for (const char* text : cases) {
    long expected = std::strtol(text, nullptr, 10);
    if (expected > INT_MAX) expected = INT_MAX;  // long is 32 bits here, but be explicit
    if (expected < INT_MIN) expected = INT_MIN;
    EXPECT_EQ(expected, tmn::ParseDecimalInt32(text)) << "text: '" << text << "'";
  }
  EXPECT_EQ(7, tmn::ParseDecimalInt32(L"007"));
  EXPECT_EQ(0, tmn::ParseDecimalInt32(static_cast<const char*>(nullptr)));
}

TEST(FormatInt32, WritesAddressesAboveTwoGigabytesAsNegative) {
  wchar_t wide[12];
  tmn::FormatInt32(-2147483647 - 1, wide);
  EXPECT_STREQ(L"-2147483648", wide);
  char out[12];
  memset(out, 0xbd, sizeof(out));
  tmn::FormatInt32(INT_MIN, out);
  EXPECT_STREQ("-2147483648", out);
  tmn::FormatInt32(static_cast<int32_t>(0x80000000u + 16), out);
  EXPECT_STREQ("-2147483632", out);
  tmn::FormatInt32(0, out);
  EXPECT_STREQ("0", out);
  tmn::FormatInt32(INT_MAX, out);
  EXPECT_STREQ("2147483647", out);
  tmn::FormatInt32(-5, out);
  EXPECT_STREQ("-5", out);
}

}  // namespace
