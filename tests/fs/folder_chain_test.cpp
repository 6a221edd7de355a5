#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "fs/folder_chain.h"
#include "support/file_system_recorder.h"
#include "support/test_support.h"

using tmtest::TempDir;

namespace {

TEST(CreateFolderChain, MakesEveryMissingLevelAndHandsOutTheLastOneMade) {
  TempDir dir(L"chain");
  const std::wstring deep = dir / L"a\\b\\c";
  tmn::UniqueFile made;
  EXPECT_EQ(S_OK, tmn::CreateFolderChain(tmtest::MakeWide(deep), nullptr, &made));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesW(deep.c_str()));
  ASSERT_TRUE(made.valid());
  BY_HANDLE_FILE_INFORMATION information = {};
  ASSERT_TRUE(GetFileInformationByHandle(made.get(), &information));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), information.dwFileAttributes) << "the last folder";
  made.reset();

  // Existing folders are left as they are, attributes included.
  ASSERT_TRUE(SetFileAttributesW((dir / L"a").c_str(), FILE_ATTRIBUTE_HIDDEN));
  const DWORD before = GetFileAttributesW((dir / L"a").c_str());
  EXPECT_EQ(S_FALSE, tmn::CreateFolderChain(tmtest::MakeWide(deep + L"\\"), nullptr, &made));
  EXPECT_FALSE(made.valid());
  EXPECT_EQ(before, GetFileAttributesW((dir / L"a").c_str()));
}

TEST(CreateFolderChain, ReplacesAFileStandingWhereAFolderBelongsButNeverALink) {
  TempDir dir(L"chain");
  ASSERT_TRUE(tmtest::WriteFileText(dir / L"a", "in the way"));
  ASSERT_TRUE(SetFileAttributesW((dir / L"a").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(S_OK, tmn::CreateFolderChain(tmtest::MakeWide(dir / L"a\\b"), nullptr, nullptr));
  EXPECT_NE(0u, GetFileAttributesW((dir / L"a").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((dir / L"a\\b").c_str()));

  // A file that lists as a symbolic link stays, and nothing is made below it.
  ASSERT_TRUE(tmtest::WriteFileText(dir / L"link", "target"));
  tmtest::FileSystemRecorder recorder;
  recorder.listedAttributes = [](const std::wstring& name, DWORD attributes) {
    return name == L"link" ? attributes | FILE_ATTRIBUTE_REPARSE_POINT : attributes;
  };
  recorder.listedTag = [](const std::wstring& name, DWORD tag) { return name == L"link" ? IO_REPARSE_TAG_SYMLINK : tag; };
  EXPECT_LT(tmn::CreateFolderChain(tmtest::MakeWide(dir / L"link\\b"), nullptr, nullptr), 0);
  EXPECT_EQ(0u, GetFileAttributesW((dir / L"link").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(CreateFolderChain, StopsAtTheFirstLevelThatCannotBeMade) {
  TempDir dir(L"chain");
  const HRESULT bad = tmn::CreateFolderChain(tmtest::MakeWide(dir / L"made\\bad|name\\never"), nullptr, nullptr);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), bad) << std::hex << bad;
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((dir / L"made").c_str()));
  // Paths that do not name one place whatever the current folder, and a
  // share that is not there, make nothing.
  for (const wchar_t* path : {L"\\\\server\\share\\x", L"\\rooted", L"relative\\x"})
    EXPECT_LT(tmn::CreateFolderChain(tmtest::MakeWide(path), nullptr, nullptr), 0) << tmtest::Narrow(path);
}

}  // namespace
