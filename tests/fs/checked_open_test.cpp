#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "fs/checked_open.h"
#include "fs/folder_by_path.h"
#include "fs/link_checks.h"
#include "support/file_system_recorder.h"
#include "support/test_support.h"

using tmtest::TempDir;

namespace {

// A child is checked against its own name, the names of the folders above
// it, and the whole reached name of the topmost held one. Names that a
// language would call equal but the file system keeps apart are apart.
TEST(ReachedAsChildOf, ComparesEachNameAsTheFileSystemDoesUpToTheWholeReachedName) {
  tmn::HeldFolder tree, dotted, blank;
  tree.name = tmtest::MakeWide(L"\\t\\tree");
  dotted.parent = &tree;
  dotted.name = tmtest::MakeWide(L"m.");
  blank.parent = &dotted;
  blank.name = tmtest::MakeWide(L"x ");
  struct Case {
    const wchar_t* reported;
    const tmn::HeldFolder* folder;
    const wchar_t* name;
    bool reached;
  } cases[] = {
      {L"\\t\\tree\\a.txt", &tree, L"a.txt", true},
      {L"\\T\\TREE\\A.TXT", &tree, L"a.txt", true},
      {L"\\t\\tree\\m", &tree, L"m.", true},  // Wine reports "m." as "m"
      {L"\\t\\tree\\x", &tree, L"x ", true},
      {L"\\t\\tree\\m\\x \\nul", &blank, L"nul", true},  // and keeps a blank in the middle
      {L"\\t\\tree\\m\\x\\nul", &blank, L"nul", false},
      {L"\\t\\tree\\m.\\x \\nul", &blank, L"nul", true},  // as Windows reports it
      {L"\\t\\outside\\a.txt", &tree, L"a.txt", false},  // a swap shows here
      {L"\\t\\tree\\sub\\a.txt", &tree, L"a.txt", false},
      {L"\\t\\tree\\b.txt", &tree, L"a.txt", false},
      {L"\\t\\treeX\\a.txt", &tree, L"a.txt", false},
      {L"\\t\\tree", &tree, L"a.txt", false},
      {L"", &tree, L"a.txt", false},
      {L"\\t\\tree\\m.\\x \\nul", &tree, L"nul", false},
      {L"\\T\\TREE.\\M\\x \\nul", &blank, L"nul", true},  // the whole name, Wine's dropped dots aside
      {L"\\t\\tree\\stra\u00DFe", &tree, L"strasse", false},
      {L"\\t\\tree\\ab", &tree, L"a\u00ADb", false},  // a soft hyphen is a character of the name
      {L"\\t\\tree\\\u00E6", &tree, L"ae", false},
      {L"\\t\\tree\\e\u0301", &tree, L"\u00E9", false},
      {L"\\t\\tree\\\u00C9T\u00C9", &tree, L"\u00E9t\u00E9", true},
  };
  for (const Case& c : cases) {
    const std::wstring reported(c.reported), name(c.name);
    EXPECT_EQ(c.reached, tmn::ReachedAsChildOf(reported.c_str(), reported.size(), *c.folder, name.c_str(), name.size()))
        << tmtest::Narrow(c.reported) << " " << tmtest::Narrow(c.name);
  }
}

TEST(IsLinkEntry, OnlyNameSurrogatesAndUnreadableTagsAreLinks) {
  const DWORD reparse = FILE_ATTRIBUTE_REPARSE_POINT, directory = FILE_ATTRIBUTE_DIRECTORY;
  EXPECT_TRUE(tmn::IsLinkEntry(directory | reparse, IO_REPARSE_TAG_MOUNT_POINT));
  EXPECT_TRUE(tmn::IsLinkEntry(reparse, IO_REPARSE_TAG_SYMLINK));
  EXPECT_TRUE(tmn::IsLinkEntry(directory | reparse, 0)) << "what Wine reports for a Unix symbolic link";
  EXPECT_FALSE(tmn::IsLinkEntry(reparse, 0x80000013)) << "a deduplicated file";
  EXPECT_FALSE(tmn::IsLinkEntry(directory | reparse, 0x9000001A)) << "a cloud placeholder folder";
  EXPECT_FALSE(tmn::IsLinkEntry(directory, IO_REPARSE_TAG_MOUNT_POINT)) << "the tag counts only on a reparse point";
}

TEST(OpenChildFolder, OnlyAMissingStepMeansNothingLiesBeyond) {
  TempDir dir(L"chain");
  ASSERT_TRUE(CreateDirectoryW((dir / L"a").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((dir / L"a\\b").c_str(), nullptr));
  ASSERT_TRUE(tmtest::WriteFileText(dir / L"a\\file.exe", "x"));
  tmn::HeldPath top;
  ASSERT_EQ(S_OK, tmn::OpenFolderByPath(tmtest::MakeWide(dir / L"a"), nullptr, &top));
  tmn::HeldFolder b, none;
  const tmn::HeldFolder& a = top.folder;
  EXPECT_EQ(S_OK, tmn::OpenChildFolder(a, L"b", 1, tmn::NameKept::kBelowParent, &b));
  EXPECT_EQ(&a, b.parent);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), tmn::OpenChildFolder(a, L"c", 1, tmn::NameKept::kWhole, &none));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DIRECTORY), tmn::OpenChildFolder(a, L"file.exe", 8, tmn::NameKept::kWhole, &none));
  EXPECT_EQ(E_INVALIDARG, tmn::OpenChildFolder(a, L"..", 2, tmn::NameKept::kWhole, &none));
  EXPECT_FALSE(none.handle);

  tmtest::FileSystemRecorder recorder;
  recorder.openedAttributes = [](const std::wstring& path, DWORD attributes) {
    return path.size() > 2 && path.compare(path.size() - 2, 2, L"\\b") == 0 ? attributes | FILE_ATTRIBUTE_REPARSE_POINT
                                                                            : attributes;
  };
  EXPECT_EQ(tmn::kEntryNotOwn, tmn::OpenChildFolder(a, L"b", 1, tmn::NameKept::kWhole, &none));
}

}  // namespace
