#include <gtest/gtest.h>

#include <string>

#include "fs/link_checks.h"
#include "support/test_support.h"

using tmtest::TempDir;

namespace {

TEST(LinkChecks, RefusesReparsePointsSecondNamesAndOtherNames) {
  struct Case {
    const char* what;
    tmn::EntryFacts facts;
    bool refused;
  };
  const DWORD file = FILE_ATTRIBUTE_ARCHIVE, folder = FILE_ATTRIBUTE_DIRECTORY;
  const DWORD link = FILE_ATTRIBUTE_REPARSE_POINT;
  const Case cases[] = {
      {"a plain file", {file, file, 1, true}, false},
      {"a plain folder", {folder, folder, 1, true}, false},
      {"a folder with several links counted", {folder, folder, 3, true}, false},
      {"a file of two names", {file, file, 2, true}, true},
      {"listed as a reparse point", {folder | link, folder, 1, true}, true},
      {"opened as a reparse point", {file, file | link, 1, true}, true},
      {"opened as a symbolic link", {file | link, file | link, 1, true, IO_REPARSE_TAG_SYMLINK}, true},
      {"a deduplicated file: no link", {file | link, file | link, 1, true, 0x80000013}, false},
      {"reached under another name", {file, file, 1, false}, true},
      {"attributes not read", {INVALID_FILE_ATTRIBUTES, file, 1, true}, true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.refused, tmn::IsLinkOrMultiLinked(c.facts)) << c.what;
}

TEST(LinkChecks, ComparesTheLastNamesWithoutLetterCase) {
  const std::wstring reached = L"\\users\\me\\Temp\\Lumbra\\Feed.Cache";
  EXPECT_TRUE(tmn::ReachedByLastName(reached.c_str(), reached.size(), L"C:\\x\\feed.cache"));
  EXPECT_TRUE(tmn::ReachedByLastName(reached.c_str(), reached.size(), L"feed.CACHE\\\\"));
  EXPECT_FALSE(tmn::ReachedByLastName(reached.c_str(), reached.size(), L"C:\\x\\feed.cache.old"));
  EXPECT_FALSE(tmn::ReachedByLastName(reached.c_str(), reached.size() - 1, L"C:\\x\\feed.cache"));
  const std::wstring folder = L"\\probe\\tdir\\";
  EXPECT_TRUE(tmn::ReachedByLastName(folder.c_str(), folder.size(), L"C:/probe/TDIR"));
  EXPECT_FALSE(tmn::ReachedByLastName(folder.c_str(), folder.size(), L"C:\\probe\\link"));
  EXPECT_FALSE(tmn::ReachedByLastName(L"", 0, L""));
}

TEST(LinkChecks, FindsASecondNameOfARealFile) {
  TempDir dir(L"links");
  const std::wstring first = dir / L"first.txt", second = dir / L"second.txt";
  ASSERT_TRUE(tmtest::WriteFileText(first, "keep"));
  EXPECT_FALSE(tmn::IsLinkOrMultiLinked(first.c_str()));
  EXPECT_FALSE(tmn::IsLinkOrMultiLinked(dir.path().c_str()));
  EXPECT_FALSE(tmn::IsLinkOrMultiLinked((dir / L"missing").c_str()));
  EXPECT_FALSE(tmn::IsLinkOrMultiLinked((dir / L"missing\\below").c_str()));

  ASSERT_TRUE(CreateHardLinkW(second.c_str(), first.c_str(), nullptr));
  EXPECT_TRUE(tmn::IsLinkOrMultiLinked(first.c_str()));
  EXPECT_TRUE(tmn::IsLinkOrMultiLinked(second.c_str()));
  const tmn::UniqueFile opened = tmn::OpenEntryItself(second.c_str(), FILE_READ_DATA, OPEN_EXISTING, false);
  ASSERT_TRUE(opened.valid());
  EXPECT_TRUE(tmn::IsLinkOrMultiLinked(opened.get(), second.c_str()));
  // Held, the entry can be neither deleted nor renamed.
  EXPECT_FALSE(DeleteFileW(second.c_str()));
  EXPECT_FALSE(MoveFileW(second.c_str(), (dir / L"moved.txt").c_str()));
  EXPECT_TRUE(tmtest::FileExists(second));
}

}  // namespace
