#include <gtest/gtest.h>

#include <string>

#include "fs/path_checks.h"
#include "support/test_support.h"

namespace {

TEST(IsFullyQualifiedPath, AcceptsDriveRootedAndUncPathsOnly) {
  for (const wchar_t* path : {L"C:\\", L"c:\\dir", L"C:/dir", L"\\\\server\\share", L"\\\\server\\share\\dir",
                              L"//server/share", L"\\\\?\\C:\\dir", L"\\\\?\\UNC\\server\\share"})
    EXPECT_TRUE(tmn::IsFullyQualifiedPath(path)) << path;
  for (const wchar_t* path : {L"", L"dir", L"dir\\sub", L"\\dir", L"/dir", L"C:", L"C:dir", L"1:\\dir", L"\\\\",
                              L"\\\\server", L"\\\\server\\", L"\\\\.\\C:\\dir", L"\\\\?\\dir", L"\\\\?\\UNC\\server"})
    EXPECT_FALSE(tmn::IsFullyQualifiedPath(path)) << path;
  EXPECT_FALSE(tmn::IsFullyQualifiedPath(nullptr));
}

TEST(GetFullPath, ResolvesPathsLongerThanMaxPath) {
  const std::wstring longPath = L"C:\\" + std::wstring(300, L'a') + L"\\..\\b";
  tmn::WideString full = tmtest::MakeWide(L"junk");
  ASSERT_EQ(S_OK, tmn::GetFullPath(longPath.c_str(), &full));
  EXPECT_EQ(L"C:\\b", tmtest::Text(full));
}

TEST(IsPlainName, RefusesEmptyNamesStreamsDrivesAndPatterns) {
  for (const wchar_t* name : {L"kb1.msu", L"k b.msu", L"m.", L"nul", L".."})
    EXPECT_TRUE(tmn::IsPlainName(name, wcslen(name))) << name;
  for (const wchar_t* name : {L"", L"x.msu:stream", L"C:", L"*.msu", L"kb?.msu", L"kb<.msu", L"kb\".msu", L"kb\t.msu"})
    EXPECT_FALSE(tmn::IsPlainName(name, wcslen(name))) << name;
  // Only the characters counted are looked at.
  EXPECT_TRUE(tmn::IsPlainName(L"kb1.msu:stream", 7));
}

}  // namespace
