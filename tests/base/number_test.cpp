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

TEST(FormatInt64, WritesEveryWidthUpToTwentyCharacters) {
  const struct {
    int64_t value;
    const char* text;
  } cases[] = {
      {INT64_MIN, "-9223372036854775808"},
      {INT64_MAX, "9223372036854775807"},
      {0x7FF612345678, "140694844102264"},  // an address above 4 GB
      {-1, "-1"},
      {0, "0"},
  };
  for (const auto& c : cases) {
    char out[21];
    memset(out, 0xbd, sizeof(out));
    tmn::FormatInt64(c.value, out);
    EXPECT_STREQ(c.text, out);
  }
}

}  // namespace
