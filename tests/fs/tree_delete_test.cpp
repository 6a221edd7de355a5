#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fs/tree_delete.h"
#include "support/file_system_recorder.h"
#include "support/test_support.h"

using tmtest::FileSystemRecorder;
using tmtest::TempDir;

namespace {

// Paths in the \\?\ form, so that names Win32 would re-read are made as
// they are written.
std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }
bool Exists(const std::wstring& path) { return GetFileAttributesW(Long(path).c_str()) != INVALID_FILE_ATTRIBUTES; }
bool MakeFolder(const std::wstring& path) { return CreateDirectoryW(Long(path).c_str(), nullptr) != FALSE; }
bool MakeFile(const std::wstring& path) { return tmtest::WriteFileText(Long(path), "data"); }

tmn::HeldEntry Held(const std::wstring& path) {
  tmn::HeldEntry folder;
  EXPECT_EQ(S_OK, tmn::OpenFolderByPath(tmtest::MakeWide(path), &folder)) << path;
  return folder;
}

std::vector<std::wstring> Names(HANDLE folder) {
  std::vector<std::wstring> names;
  tmn::FolderListing listing(folder);
  tmn::ListedEntry entry;
  while (listing.Next(&entry) == S_OK) names.emplace_back(entry.name, entry.nameLength);
  return names;
}

struct Hook {
  std::vector<tmn::RefusedStep> steps;
  bool answer = true;
  static bool Repair(void* context, HANDLE entry, tmn::RefusedStep step) {
    auto* hook = static_cast<Hook*>(context);
    EXPECT_NE(INVALID_HANDLE_VALUE, entry);
    hook->steps.push_back(step);
    return hook->answer;
  }
  tmn::RefusedDeleteHook Get() { return {Repair, this}; }
};

TEST(ReachedAsChildOf, ComparesTheWholeNameLetterCaseAndTrailingDotsAndBlanksAside) {
  struct Case {
    const wchar_t* reported;
    const wchar_t* folder;
    const wchar_t* name;
    bool reached;
  } cases[] = {
      {L"\\t\\tree\\a.txt", L"\\t\\tree", L"a.txt", true},
      {L"\\T\\TREE\\A.TXT", L"\\t\\tree", L"a.txt", true},
      {L"\\t\\tree\\m", L"\\t\\tree", L"m.", true},  // Wine reports "m." as "m"
      {L"\\t\\tree\\x", L"\\t\\tree", L"x ", true},
      {L"\\t\\m\\x \\nul", L"\\t\\m.\\x", L"nul", true},  // and keeps the blank in the middle
      {L"\\a.txt", L"\\", L"a.txt", true},
      {L"\\t\\outside\\a.txt", L"\\t\\tree", L"a.txt", false},  // a swap shows here
      {L"\\t\\tree\\sub\\a.txt", L"\\t\\tree", L"a.txt", false},
      {L"\\t\\tree\\b.txt", L"\\t\\tree", L"a.txt", false},
      {L"\\t\\treeX\\a.txt", L"\\t\\tree", L"a.txt", false},
      {L"\\t\\tree", L"\\t\\tree", L"a.txt", false},
      {L"", L"\\t\\tree", L"a.txt", false},
  };
  for (const Case& c : cases) {
    const std::wstring reported(c.reported), name(c.name);
    EXPECT_EQ(c.reached, tmn::ReachedAsChildOf(reported.c_str(), reported.size(), tmtest::MakeWide(c.folder),
                                               name.c_str(), name.size()))
        << c.reported << L" " << c.folder << L" " << c.name;
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

TEST(FolderListing, ListsNamesWin32WouldReReadExactlyAndFindsOneByItsExactName) {
  TempDir dir(L"listing");
  const std::wstring names[] = {L"m.", L"x ", L"nul", L"con.txt", L"aux", L"y.."};
  for (const std::wstring& name : names) ASSERT_TRUE(MakeFile(dir / name)) << name;
  ASSERT_TRUE(MakeFolder(dir / L"m"));
  tmn::HeldEntry folder = Held(dir.path());
  std::vector<std::wstring> listed = Names(folder.handle.get());
  std::sort(listed.begin(), listed.end());
  std::vector<std::wstring> expected(std::begin(names), std::end(names));
  expected.push_back(L"m");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, listed);

  tmn::HeldEntry again = Held(dir.path());
  tmn::FolderListing listing(again.handle.get());
  tmn::ListedEntry entry;
  ASSERT_EQ(S_OK, listing.Find(L"m.", 2, &entry));
  EXPECT_EQ(std::wstring(L"m."), std::wstring(entry.name, entry.nameLength));
  EXPECT_EQ(0u, entry.attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), listing.Find(L"q", 1, &entry));
  folder.handle.reset();
  again.handle.reset();
  EXPECT_EQ(S_OK, tmn::DeleteTree(tmtest::MakeWide(dir.path()), nullptr));
}

TEST(DeleteTree, DeletesNamesWin32WouldReReadLongPathsAndReadOnlyFilesAsThemselves) {
  TempDir dir(L"tree");
  const std::wstring root = dir / L"tree";
  ASSERT_TRUE(MakeFolder(root));
  ASSERT_TRUE(MakeFolder(dir / L"m"));  // beside the tree: what "tree\m." must not turn into
  ASSERT_TRUE(MakeFile(dir / L"m\\keep.txt"));
  for (const wchar_t* folder : {L"m.", L"m.\\x ", L"sub", L"sub\\empty"})
    ASSERT_TRUE(MakeFolder(root + L"\\" + folder));
  for (const wchar_t* file : {L"m.\\a", L"m.\\x \\nul", L"con.txt", L"aux", L"y..", L"sub\\b"})
    ASSERT_TRUE(MakeFile(root + L"\\" + file));
  std::wstring deep = root + L"\\sub";
  for (int i = 0; i < 12; ++i) ASSERT_TRUE(MakeFolder(deep += L"\\level-of-a-long-path-" + std::to_wstring(i)));
  ASSERT_GT(deep.size(), 300u);
  ASSERT_TRUE(MakeFile(deep + L"\\deepest.txt"));
  ASSERT_TRUE(SetFileAttributesW(Long(root + L"\\sub\\b").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

  EXPECT_EQ(S_OK, tmn::DeleteTree(tmtest::MakeWide(root), nullptr));
  EXPECT_FALSE(Exists(root));
  EXPECT_TRUE(Exists(dir / L"m\\keep.txt"));
}

TEST(DeleteTree, AReadOnlyFileWithASecondNameOutsideKeepsItsAttributes) {
  TempDir dir(L"tree");
  const std::wstring root = dir / L"tree", outside = dir / L"outside.txt";
  ASSERT_TRUE(MakeFolder(root));
  ASSERT_TRUE(MakeFile(outside));
  ASSERT_TRUE(CreateHardLinkW((root + L"\\inside.txt").c_str(), outside.c_str(), nullptr));
  ASSERT_TRUE(SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_READONLY));

  EXPECT_EQ(S_OK, tmn::DeleteTree(tmtest::MakeWide(root), nullptr));
  EXPECT_FALSE(Exists(root));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), GetFileAttributesW(outside.c_str()) & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(DeleteTree, RootsThatNameNoFolderOfTheirOwnAreRefusedUntouched) {
  TempDir dir(L"tree");
  ASSERT_TRUE(MakeFolder(dir / L"tree"));
  ASSERT_TRUE(MakeFile(dir / L"tree\\a"));
  ASSERT_TRUE(MakeFile(dir / L"file"));
  struct Case {
    std::wstring path;
    HRESULT result;
  } cases[] = {
      {dir / L"tree ", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},  // never looked up as "tree"
      {dir / L"tree..", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      {dir / L"tree\\.", E_INVALIDARG},
      {dir / L"tree\\..", E_INVALIDARG},
      {L"C:\\", E_INVALIDARG},
      {dir / L"file", HRESULT_FROM_WIN32(ERROR_DIRECTORY)},
      {dir / L"missing", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, tmn::DeleteTree(tmtest::MakeWide(c.path), nullptr)) << c.path;
  EXPECT_TRUE(Exists(dir / L"tree\\a"));
  EXPECT_TRUE(Exists(dir / L"file"));
}

TEST(DeleteTree, ARootWithATrailingBlankIsDeletedAsThatName) {
  TempDir dir(L"tree");
  ASSERT_TRUE(MakeFolder(dir / L"tree"));
  ASSERT_TRUE(MakeFolder(dir / L"tree "));
  ASSERT_TRUE(MakeFile(dir / L"tree \\a"));
  EXPECT_EQ(S_OK, tmn::DeleteTree(tmtest::MakeWide(dir / L"tree \\"), nullptr));
  EXPECT_FALSE(Exists(dir / L"tree "));
  EXPECT_TRUE(Exists(dir / L"tree"));
}

// The racer's move: a folder is renamed and another put in its place,
// holding files of the same names, either between its listing and its
// opening or once it is held. Neither the moved folder is lost (it is never
// entered through the new name) nor anything of the replacement (Wine
// deletes at close by path; the name each handle reached shows the swap).
TEST(DeleteTree, AFolderSwappedForAnotherLosesNothingOfEither) {
  for (const wchar_t* swapAt : {L"\\sub", L"\\sub\\"}) {
    TempDir dir(L"tree");
    const std::wstring root = dir / L"tree";
    ASSERT_TRUE(MakeFolder(root));
    ASSERT_TRUE(MakeFolder(root + L"\\sub"));
    for (const wchar_t* file : {L"\\sub\\a.txt", L"\\sub\\b.txt"}) ASSERT_TRUE(MakeFile(root + file));
    ASSERT_TRUE(MakeFile(root + L"\\z.txt"));
    FileSystemRecorder recorder;
    bool swapped = false;
    const std::wstring trigger = root + swapAt;
    recorder.beforeOpen = [&](const std::wstring& path) {
      if (swapped || path.compare(0, trigger.size(), trigger) != 0) return;
      swapped = true;
      MoveFileW((root + L"\\sub").c_str(), (dir / L"moved").c_str());
      CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
      for (const wchar_t* file : {L"\\sub\\a.txt", L"\\sub\\b.txt"}) tmtest::WriteFileText(root + file, "decoy");
    };
    EXPECT_EQ(tmn::kTreeNotAllDeleted, tmn::DeleteTree(tmtest::MakeWide(root), nullptr)) << swapAt;
    EXPECT_TRUE(swapped) << swapAt;
    for (const wchar_t* file : {L"\\sub\\a.txt", L"\\sub\\b.txt"}) EXPECT_TRUE(Exists(root + file)) << swapAt;
    EXPECT_FALSE(Exists(root + L"\\z.txt")) << swapAt;
    // Swapped before its opening, the moved folder was never entered.
    if (trigger.back() != L'\\') {
      EXPECT_TRUE(Exists(dir / L"moved\\a.txt"));
    }
  }
}

TEST(DeleteTree, ARefusedStepGoesToTheHookOnceWithTheEntryAndIsTriedAgain) {
  TempDir dir(L"tree");
  const std::wstring root = dir / L"tree";
  ASSERT_TRUE(MakeFolder(root));
  ASSERT_TRUE(MakeFile(root + L"\\stuck.txt"));
  ASSERT_TRUE(MakeFile(root + L"\\fine.txt"));
  FileSystemRecorder recorder;
  int refusals = 1;
  recorder.refuseDelete = [&](const std::wstring& path) {
    return path == root + L"\\stuck.txt" && refusals-- > 0;
  };
  Hook hook;
  tmn::RefusedDeleteHook callback = hook.Get();
  EXPECT_EQ(S_OK, tmn::DeleteTree(tmtest::MakeWide(root), &callback));
  EXPECT_EQ(std::vector<tmn::RefusedStep>{tmn::RefusedStep::kDeleteFile}, hook.steps);
  EXPECT_FALSE(Exists(root));

  // Refused for good: one repair, one retry, and the folders above stay,
  // each after its own repair.
  ASSERT_TRUE(MakeFolder(root));
  ASSERT_TRUE(MakeFile(root + L"\\stuck.txt"));
  refusals = 100;
  hook.steps.clear();
  EXPECT_EQ(tmn::kTreeNotAllDeleted, tmn::DeleteTree(tmtest::MakeWide(root), &callback));
  const std::vector<tmn::RefusedStep> expected = {tmn::RefusedStep::kDeleteFile, tmn::RefusedStep::kRemoveFolder};
  EXPECT_EQ(expected, hook.steps);
  EXPECT_EQ(98, refusals);  // tried, repaired, tried once more
  EXPECT_TRUE(Exists(root + L"\\stuck.txt"));
}

TEST(DeleteTree, AFolderThatCannotBeListedEndsTheWalkAndItAndItsParentsStay) {
  TempDir dir(L"tree");
  const std::wstring root = dir / L"tree";
  ASSERT_TRUE(MakeFolder(root));
  ASSERT_TRUE(MakeFolder(root + L"\\closed"));
  ASSERT_TRUE(MakeFile(root + L"\\closed\\c.txt"));
  FileSystemRecorder recorder;
  recorder.refuseListing = [&](const std::wstring& folder) { return folder == root + L"\\closed"; };
  EXPECT_EQ(E_UNEXPECTED, tmn::DeleteTree(tmtest::MakeWide(root), nullptr));
  EXPECT_TRUE(Exists(root + L"\\closed\\c.txt"));
}

TEST(OpenChildFolder, OnlyAMissingStepMeansNothingLiesBeyond) {
  TempDir dir(L"chain");
  ASSERT_TRUE(MakeFolder(dir / L"a"));
  ASSERT_TRUE(MakeFolder(dir / L"a\\b"));
  ASSERT_TRUE(MakeFile(dir / L"a\\file.exe"));
  tmn::HeldEntry top = Held(dir.path());
  tmn::HeldEntry a, b, none;
  ASSERT_EQ(S_OK, tmn::OpenChildFolder(top, L"a", 1, &a));
  EXPECT_EQ(S_OK, tmn::OpenChildFolder(a, L"b", 1, &b));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), tmn::OpenChildFolder(a, L"c", 1, &none));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DIRECTORY), tmn::OpenChildFolder(a, L"file.exe", 8, &none));
  EXPECT_EQ(E_INVALIDARG, tmn::OpenChildFolder(a, L"..", 2, &none));
  EXPECT_FALSE(none.handle);

  FileSystemRecorder recorder;
  recorder.openedAttributes = [](const std::wstring& path, DWORD attributes) {
    return path.size() > 2 && path.compare(path.size() - 2, 2, L"\\b") == 0 ? attributes | FILE_ATTRIBUTE_REPARSE_POINT
                                                                            : attributes;
  };
  EXPECT_EQ(tmn::kEntryNotOwn, tmn::OpenChildFolder(a, L"b", 1, &none));
  recorder.openedId = [](const std::wstring&, uint64_t id) { return id + 1; };
  tmn::FolderListing listing(a.handle.get());
  tmn::ListedEntry entry;
  ASSERT_EQ(S_OK, listing.Find(L"file.exe", 8, &entry));
  EXPECT_EQ(tmn::kEntryNotOwn, tmn::OpenCheckedChild(a, entry, FILE_READ_ATTRIBUTES | SYNCHRONIZE, &none));
  EXPECT_EQ(tmn::kEntryNotOwn, tmn::DeleteChild(a, entry, nullptr));
  EXPECT_TRUE(Exists(dir / L"a\\file.exe"));
}

TEST(DeleteChildByName, DeletesAFileOrAFolderWithItsContentsByItsExactName) {
  TempDir dir(L"child");
  ASSERT_TRUE(MakeFile(dir / L"x "));
  ASSERT_TRUE(MakeFile(dir / L"x"));
  ASSERT_TRUE(MakeFolder(dir / L"f"));
  ASSERT_TRUE(MakeFile(dir / L"f\\inner"));
  tmn::HeldEntry folder = Held(dir.path());
  EXPECT_EQ(S_OK, tmn::DeleteChildByName(folder, L"x ", 2, nullptr));
  EXPECT_EQ(S_OK, tmn::DeleteChildByName(folder, L"f", 1, nullptr));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), tmn::DeleteChildByName(folder, L"gone", 4, nullptr));
  EXPECT_EQ(std::vector<std::wstring>{L"x"}, Names(folder.handle.get()));
}

// An empty folder goes; one holding anything, or another entry than the
// one its name led to (a racer's swap), stays with what it holds.
TEST(RemoveEmptyFolder, RemovesOnlyAnEmptyFolderOfItsOwn) {
  TempDir dir(L"empty");
  for (const wchar_t* folder : {L"empty", L"full", L"swapped"}) ASSERT_TRUE(MakeFolder(dir / folder));
  ASSERT_TRUE(MakeFile(dir / L"full\\kept"));
  EXPECT_EQ(S_OK, tmn::RemoveEmptyFolder(tmtest::MakeWide(dir / L"empty")));
  EXPECT_TRUE(FAILED(tmn::RemoveEmptyFolder(tmtest::MakeWide(dir / L"full"))));
  FileSystemRecorder recorder;
  recorder.openedId = [](const std::wstring& path, uint64_t id) {
    return path.find(L"swapped") != std::wstring::npos ? id + 1 : id;
  };
  EXPECT_EQ(tmn::kEntryNotOwn, tmn::RemoveEmptyFolder(tmtest::MakeWide(dir / L"swapped")));
  EXPECT_FALSE(Exists(dir / L"empty"));
  EXPECT_TRUE(Exists(dir / L"full\\kept"));
  EXPECT_TRUE(Exists(dir / L"swapped"));
}

TEST(ReadFileIdentity, TheSameFolderReachedByTwoSpellingsIsTheSameFile) {
  TempDir dir(L"identity");
  ASSERT_TRUE(MakeFolder(dir / L"Hotfix"));
  ASSERT_TRUE(MakeFolder(dir / L"other"));
  tmn::FileIdentity a, b, c;
  tmn::HeldEntry first = Held(dir / L"Hotfix"), second = Held(Long(dir / L"HOTFIX\\")), third = Held(dir / L"other");
  ASSERT_EQ(S_OK, tmn::ReadFileIdentity(first.handle.get(), &a));
  ASSERT_EQ(S_OK, tmn::ReadFileIdentity(second.handle.get(), &b));
  ASSERT_EQ(S_OK, tmn::ReadFileIdentity(third.handle.get(), &c));
  EXPECT_TRUE(tmn::IsSameFile(a, b));
  EXPECT_FALSE(tmn::IsSameFile(a, c));
}

}  // namespace
