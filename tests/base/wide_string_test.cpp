#include <gtest/gtest.h>

#include <string>

#include "base/wide_string.h"
#include "support/test_support.h"

using tmn::WideString;
using tmtest::Text;

namespace {

TEST(WideString, EmptyStringGivesAnEmptyTextWithoutStorage) {
  WideString s;
  EXPECT_EQ(0u, s.Length());
  ASSERT_NE(nullptr, s.Get());
  EXPECT_EQ(L'\0', s.Get()[0]);
  EXPECT_TRUE(s.Equals(L""));
  EXPECT_TRUE(s.Equals(nullptr));
}

TEST(WideString, AppendsGrowAndKeepTheTextTerminated) {
  WideString s;
  std::wstring expected;
  for (int i = 0; i < 1000; ++i) {
    const wchar_t piece[] = {static_cast<wchar_t>(L'a' + i % 26), L'\\', 0};
    ASSERT_TRUE(s.Append(piece));
    expected += piece;
    ASSERT_EQ(expected.size(), s.Length());
    ASSERT_EQ(L'\0', s.Get()[s.Length()]) << "at " << i;
  }
  EXPECT_EQ(expected, Text(s));
}

TEST(WideString, AppendingItsOwnTextDoublesIt) {
  WideString s;
  ASSERT_TRUE(s.Assign(L"abc"));
  ASSERT_TRUE(s.Append(s));
  EXPECT_EQ(L"abcabc", Text(s));
  ASSERT_TRUE(s.Append(s.Get() + 1, 2));
  EXPECT_EQ(L"abcabcbc", Text(s));
}

TEST(WideString, AssignKeepsEmbeddedCountNotFirstNul) {
  WideString s;
  const wchar_t text[] = L"ab\0cd";
  ASSERT_TRUE(s.Assign(text, 5));
  EXPECT_EQ(5u, s.Length());
  EXPECT_EQ(L'c', s[3]);
}

TEST(WideString, ImpossibleGrowthFailsAndLeavesTheStringAsItWas) {
  WideString s;
  ASSERT_TRUE(s.Assign(L"keep"));
  EXPECT_FALSE(s.Reserve(static_cast<size_t>(-1) / 2));
  EXPECT_FALSE(s.Append(L"x", static_cast<size_t>(-1) - 2));
  EXPECT_EQ(L"keep", Text(s));
}

TEST(WideString, EraseTruncateAndFind) {
  WideString s;
  ASSERT_TRUE(s.Assign(L"C:\\\\dir\\\\\\x"));
  EXPECT_EQ(2u, s.Find(L'\\'));
  EXPECT_EQ(9u, s.FindLast(L'\\'));
  EXPECT_EQ(WideString::npos, s.Find(L'?'));
  s.Erase(2);
  EXPECT_EQ(L"C:\\dir\\\\\\x", Text(s));
  s.Erase(6, 100);
  EXPECT_EQ(L"C:\\dir", Text(s));
  s.Truncate(2);
  EXPECT_EQ(L"C:", Text(s));
  s.Truncate(10);
  EXPECT_EQ(L"C:", Text(s));
  EXPECT_TRUE(s.EndsWith(L':'));
}

TEST(WideString, MoveLeavesTheSourceEmpty) {
  WideString a;
  ASSERT_TRUE(a.Assign(L"path"));
  WideString b(static_cast<WideString&&>(a));
  EXPECT_EQ(L"path", Text(b));
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_STREQ(L"", a.Get());
}

}  // namespace
