#include <gtest/gtest.h>

#include "base/ascii.h"

namespace {

TEST(EqualsIgnoringAsciiCase, FoldsOnlyAsciiLettersAndComparesWholeNames) {
  EXPECT_TRUE(tmn::EqualsIgnoringAsciiCase(L"notepad.exe", L"NOTEPAD.EXE"));
  EXPECT_TRUE(tmn::EqualsIgnoringAsciiCase(L"", L""));
  EXPECT_FALSE(tmn::EqualsIgnoringAsciiCase(L"notepad.exe", L"notepad"));
  EXPECT_FALSE(tmn::EqualsIgnoringAsciiCase(L"notepad", L"notepad.exe"));
  EXPECT_FALSE(tmn::EqualsIgnoringAsciiCase(L"caf\u00e9.exe", L"CAF\u00c9.EXE"));
  EXPECT_TRUE(tmn::EqualsIgnoringAsciiCase(L"caf\u00e9.exe", L"CAF\u00e9.EXE"));
  // '[' and '{' sit right after 'Z' and 'z': no folding across them.
  EXPECT_FALSE(tmn::EqualsIgnoringAsciiCase(L"[", L"{"));
  EXPECT_FALSE(tmn::EqualsIgnoringAsciiCase(L"@", L"`"));
}

TEST(EqualsIgnoringAsciiCase, ComparesAGivenCountOfCharacters) {
  EXPECT_TRUE(tmn::EqualsIgnoringAsciiCase(L"unc\\rest", L"UNC", 3));
  EXPECT_FALSE(tmn::EqualsIgnoringAsciiCase(L"un", L"UNC", 3));
}

}  // namespace
