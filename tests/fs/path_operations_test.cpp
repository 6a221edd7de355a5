#include <gtest/gtest.h>

#include <string>

#include "fs/path_operations.h"
#include "support/test_support.h"

using tmtest::TempDir;

namespace {


TEST(StripLastComponent, CutsTheLastComponentButNeverADriveRootOrABareDrive) {
  struct Case {
    const wchar_t* path;
    const wchar_t* after;
    int result;
  } cases[] = {
      {L"C:\\dir\\file", L"C:\\dir", 1},
      {L"C:\\file", L"C:\\", 1},
      {L"C:\\dir\\", L"C:\\dir", 1},
      {L"C:\\", L"C:\\", 0},
      {L"C:", L"C:", 0},
      {L"\\\\server\\share\\dir", L"\\\\server\\share", 1},
      {L"\\\\?\\C:\\dir", L"\\\\?\\C:\\", 1},
      {L"\\\\?\\UNC\\server\\share", L"\\\\?\\UNC\\server", 1},
      {L"file", L"", 1},
      {L"\\dir", L"\\", 1},
      {L"", L"", 0},
      {L"C:file", L"C:", 1},
      {L"C:\\a\\\\b", L"C:\\a", 1},
      {L"\\\\?\\unc\\server\\share", L"\\\\?\\unc\\server", 1},
      {L"\\", L"\\", 0},
  };
  for (const Case& c : cases) {
    tmn::WideString path = tmtest::MakeWide(c.path);
    EXPECT_EQ(c.result, tmn::StripLastComponent(path)) << c.path;
    EXPECT_EQ(std::wstring(c.after), tmtest::Text(path)) << c.path;
  }
}

TEST(StripLastComponent, ClimbsToTheDriveRootAndStops) {
  tmn::WideString path = tmtest::MakeWide(L"C:\\a\\b");
  ASSERT_EQ(1, tmn::StripLastComponent(path));
  EXPECT_EQ(L"C:\\a", tmtest::Text(path));
  ASSERT_EQ(1, tmn::StripLastComponent(path));
  EXPECT_EQ(L"C:\\", tmtest::Text(path));
  EXPECT_EQ(0, tmn::StripLastComponent(path));
  EXPECT_EQ(L"C:\\", tmtest::Text(path));
}

TEST(PathPrefixes, UncAndLongPathFormsAreRecognised) {
  EXPECT_FALSE(tmn::IsUncPath(nullptr));
  EXPECT_FALSE(tmn::IsUncPath(L""));
  EXPECT_TRUE(tmn::IsUncPath(L"\\\\server\\share"));
  EXPECT_TRUE(tmn::IsUncPath(L"\\\\?\\UNC\\server"));
  EXPECT_TRUE(tmn::IsUncPath(L"\\\\?\\uNc\\server"));
  EXPECT_FALSE(tmn::IsUncPath(L"\\\\?\\C:\\x"));
  EXPECT_FALSE(tmn::IsUncPath(L"\\\\?x"));
  EXPECT_FALSE(tmn::IsUncPath(L"C:\\x"));
  EXPECT_FALSE(tmn::IsUncPath(L"\\x"));

  const wchar_t* longUnc = L"\\\\?\\UNC\\server\\share";
  EXPECT_EQ(longUnc + 8, tmn::SkipPathPrefix(longUnc));
  const wchar_t* longPath = L"\\\\?\\C:\\dir";
  EXPECT_EQ(longPath + 4, tmn::SkipPathPrefix(longPath));
  const wchar_t* unc = L"\\\\server\\share";
  EXPECT_EQ(unc + 2, tmn::SkipPathPrefix(unc));
  const wchar_t* plain = L"C:\\dir";
  EXPECT_EQ(plain, tmn::SkipPathPrefix(plain));
  EXPECT_EQ(nullptr, tmn::SkipPathPrefix(nullptr));
}

TEST(AppendPath, PutsExactlyOneBackslashAtTheSeam) {
  struct Case {
    const wchar_t* base;
    const wchar_t* more;
    const wchar_t* joined;
  } cases[] = {
      {L"C:\\P\\", L"\\Cfg", L"C:\\P\\Cfg"},
      {L"C:\\P", L"Cfg", L"C:\\P\\Cfg"},
      {L"C:\\P\\\\\\", L"\\\\Orvik\\Download", L"C:\\P\\Orvik\\Download"},
      {L"", L"x", L"\\x"},
      {L"C:\\P", L"\\\\\\", L"C:\\P"},
      {L"C:\\P", L"", L"C:\\P"},
  };
  for (const Case& c : cases) {
    tmn::WideString base = tmtest::MakeWide(c.base);
    EXPECT_EQ(1, tmn::AppendPath(base, c.more)) << c.base << " + " << c.more;
    EXPECT_EQ(std::wstring(c.joined), tmtest::Text(base)) << c.base << " + " << c.more;
  }
  tmn::WideString base = tmtest::MakeWide(L"C:\\P\\");
  EXPECT_EQ(0, tmn::AppendPath(base, nullptr));
  EXPECT_EQ(L"C:\\P\\", tmtest::Text(base));
}

}  // namespace
