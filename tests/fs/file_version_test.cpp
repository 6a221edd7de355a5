// The fixed version of files built for the tests with nothing but a
// version resource.
#include <gtest/gtest.h>

#include "fs/file_version.h"
#include "support/product_support.h"

using tmtest::MakeWide;
using tmtest::TempDir;
using tmtest::Text;

namespace {

TEST(GetFileVersion, ReadsTheFixedVersionOfAFile) {
  tmn::FileVersion version = {0xdeadbeef, 0xdeadbeef};
  ASSERT_TRUE(tmn::GetFileVersion(tmtest::VersionFile(L"pelvo_2_5", L"pelvo.dll").c_str(), &version));
  EXPECT_EQ(0x00020005u, version.high);
  EXPECT_EQ(0x000004D2u, version.low);
  tmn::WideString text = MakeWide(L"junk");
  ASSERT_TRUE(tmn::FormatFileVersion(version, &text));
  EXPECT_EQ(L"2.5.0.1234", Text(text));

  ASSERT_TRUE(tmn::GetFileVersion(tmtest::VersionFile(L"pelvo_max", L"pelvo.dll").c_str(), &version));
  ASSERT_TRUE(tmn::FormatFileVersion(version, &text));
  EXPECT_EQ(L"65535.65534.65533.65532", Text(text));
}

TEST(GetFileVersion, FilesWithoutAVersionResourceGiveFalse) {
  TempDir dir(L"version");
  tmtest::WriteFileText(dir / L"text.dll", "not a program");
  tmn::FileVersion version = {};
  EXPECT_FALSE(tmn::GetFileVersion((dir / L"text.dll").c_str(), &version));
  EXPECT_FALSE(tmn::GetFileVersion((dir / L"missing.dll").c_str(), &version));
  EXPECT_FALSE(tmn::GetFileVersion(tmtest::HelperPath(L"proclist.exe").c_str(), &version));
}

}  // namespace
