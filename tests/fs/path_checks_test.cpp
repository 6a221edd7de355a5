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

TEST(PlaceOf, ComparesFullPathsWithoutCaseAndTrailingSeparators) {
  const wchar_t* folder = L"C:\\Prog\\Vardo\\Hotfix";
  EXPECT_EQ(tmn::Placement::kSame, tmn::PlaceOf(L"c:\\prog\\VARDO\\hotfix", folder));
  EXPECT_EQ(tmn::Placement::kSame, tmn::PlaceOf(L"C:\\Prog\\Vardo\\Hotfix\\\\", folder));
  EXPECT_EQ(tmn::Placement::kSame, tmn::PlaceOf(L"C:/Prog/Vardo/Hotfix/", folder));
  EXPECT_EQ(tmn::Placement::kSame, tmn::PlaceOf(L"C:\\Prog\\Vardo\\x\\..\\Hotfix", folder));
  EXPECT_EQ(tmn::Placement::kBelow, tmn::PlaceOf(L"C:\\Prog\\Vardo\\Hotfix\\kb\\", folder));
  EXPECT_EQ(tmn::Placement::kOutside, tmn::PlaceOf(L"C:\\Prog\\Vardo\\Hotfix2", folder));
  EXPECT_EQ(tmn::Placement::kOutside, tmn::PlaceOf(L"C:\\Prog\\Vardo", folder));
  EXPECT_EQ(tmn::Placement::kOutside, tmn::PlaceOf(L"", folder));
  EXPECT_EQ(tmn::Placement::kBelow, tmn::PlaceOf(L"C:\\x", L"C:\\"));
  // Letters outside ASCII fold too, as the file system folds them.
  EXPECT_EQ(tmn::Placement::kSame, tmn::PlaceOf(L"C:\\\x00C4rger", L"C:\\\x00E4RGER"));
}

TEST(GetFullPath, ResolvesPathsLongerThanMaxPath) {
  const std::wstring longPath = L"C:\\" + std::wstring(300, L'a') + L"\\..\\b";
  tmn::WideString full = tmtest::MakeWide(L"junk");
  ASSERT_EQ(S_OK, tmn::GetFullPath(longPath.c_str(), &full));
  EXPECT_EQ(L"C:\\b", tmtest::Text(full));
}

TEST(IsNameBelowFolder, TakesRelativeNamesThatStayInsideTheFolder) {
  for (const wchar_t* folder : {L"C:\\dl", L"C:\\dl\\", L"C:\\"}) {
    for (const wchar_t* name : {L"kb1.msu", L"sub\\kb2.msu", L"sub/kb2.msu", L"a\\..\\b.msu", L"k b.msu"})
      EXPECT_TRUE(tmn::IsNameBelowFolder(folder, name)) << folder << L" + " << name;
  }
}

TEST(IsNameBelowFolder, RefusesEveryNameThatLeadsElsewhere) {
  for (const wchar_t* name :
       {L"", L".", L"sub\\..", L"..\\x.msu", L"../x.msu", L"a\\..\\..\\x.msu", L"a/../../x.msu", L"C:\\x.msu",
        L"D:x.msu", L"\\x.msu", L"/x.msu", L"\\\\server\\share\\x.msu", L"//server/share/x.msu",
        L"x.msu:stream", L"x.msu::$DATA", L"CON", L"nul.msu", L"sub\\COM1.txt", L"*.msu", L"kb?.msu",
        L"kb<.msu", L"kb\".msu", L"kb\t.msu"})
    EXPECT_FALSE(tmn::IsNameBelowFolder(L"C:\\dl", name)) << name;
  // The folder itself must name one place.
  for (const wchar_t* folder : {L"", L"dl", L"\\dl", L"C:dl"})
    EXPECT_FALSE(tmn::IsNameBelowFolder(folder, L"kb1.msu")) << folder;
}

}  // namespace
