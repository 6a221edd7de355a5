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

TEST(CreateFolderChain, MakesEveryMissingLevelAndReportsWhetherItMadeOne) {
  TempDir dir(L"chain");
  const std::wstring deep = dir / L"a\\b\\c";
  EXPECT_EQ(S_OK, tmn::CreateFolderChain(tmtest::MakeWide(deep)));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesW(deep.c_str()));

  // Existing folders are left as they are, attributes included.
  ASSERT_TRUE(SetFileAttributesW((dir / L"a").c_str(), FILE_ATTRIBUTE_HIDDEN));
  const DWORD before = GetFileAttributesW((dir / L"a").c_str());
  EXPECT_EQ(S_FALSE, tmn::CreateFolderChain(tmtest::MakeWide(deep + L"\\")));
  EXPECT_EQ(before, GetFileAttributesW((dir / L"a").c_str()));
}

TEST(CreateFolderChain, ReplacesAFileStandingWhereAFolderBelongs) {
  TempDir dir(L"chain");
  ASSERT_TRUE(tmtest::WriteFileText(dir / L"a", "in the way"));
  ASSERT_TRUE(SetFileAttributesW((dir / L"a").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(S_OK, tmn::CreateFolderChain(tmtest::MakeWide(dir / L"a\\b")));
  EXPECT_NE(0u, GetFileAttributesW((dir / L"a").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((dir / L"a\\b").c_str()));
}

TEST(CreateFolderChain, StopsAtTheFirstLevelThatCannotBeMade) {
  TempDir dir(L"chain");
  const HRESULT bad = tmn::CreateFolderChain(tmtest::MakeWide(dir / L"made\\bad|name\\never"));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), bad) << std::hex << bad;
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((dir / L"made").c_str()));
  // A path rooted without a drive fails at its first, empty, level.
  EXPECT_LT(tmn::CreateFolderChain(tmtest::MakeWide(L"\\\\server\\share\\x")), 0);
  EXPECT_LT(tmn::CreateFolderChain(tmtest::MakeWide(L"\\rooted")), 0);
}

}  // namespace
