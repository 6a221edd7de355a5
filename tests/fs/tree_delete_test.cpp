#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fs/tree_delete.h"
#include "fs/checked_open.h"
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

  EXPECT_EQ(S_OK, tmn::DeleteTree(tmtest::MakeWide(root), {}));
  EXPECT_FALSE(Exists(root));
  EXPECT_TRUE(Exists(dir / L"m\\keep.txt"));
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
      {dir / L"missing\\tree", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
      {dir / L"file\\tree", HRESULT_FROM_WIN32(ERROR_DIRECTORY)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, tmn::DeleteTree(tmtest::MakeWide(c.path), {})) << c.path;
  EXPECT_TRUE(Exists(dir / L"tree\\a"));
  EXPECT_TRUE(Exists(dir / L"file"));
}

TEST(DeleteTree, ARootWithATrailingBlankIsDeletedAsThatName) {
  TempDir dir(L"tree");
  ASSERT_TRUE(MakeFolder(dir / L"tree"));
  ASSERT_TRUE(MakeFolder(dir / L"tree "));
  ASSERT_TRUE(MakeFile(dir / L"tree \\a"));
  EXPECT_EQ(S_OK, tmn::DeleteTree(tmtest::MakeWide(dir / L"tree \\"), {}));
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
    EXPECT_EQ(tmn::kTreeNotAllDeleted, tmn::DeleteTree(tmtest::MakeWide(root), {})) << swapAt;
    EXPECT_TRUE(swapped) << swapAt;
    for (const wchar_t* file : {L"\\sub\\a.txt", L"\\sub\\b.txt"}) EXPECT_TRUE(Exists(root + file)) << swapAt;
    EXPECT_FALSE(Exists(root + L"\\z.txt")) << swapAt;
    // Swapped before its opening, the moved folder was never entered.
    if (trigger.back() != L'\\') {
      EXPECT_TRUE(Exists(dir / L"moved\\a.txt"));
    }
  }
}

// The first folder the walk meets cannot be entered, each row for another
// reason: the rest of the tree goes all the same, and that folder stays with
// what it holds, and so do the folders above it.
TEST(DeleteTree, AFolderThatCannotBeEnteredIsPassedOverAndTheRestGoes) {
  enum class Way { kListingRefused, kOpenRefused, kNotFound, kInUse, kRenamedAway, kReplacedByAFile, kDeletePending };
  struct Case {
    const char* what;
    Way way;
    HRESULT result;
    bool itStays;  // the folder, under its name
  } cases[] = {
      {"its listing is refused", Way::kListingRefused, E_UNEXPECTED, true},
      {"it refuses every open", Way::kOpenRefused, E_UNEXPECTED, true},
      // As Wine finds no folder past the longest path it opens.
      {"it opens as not found, though still listed", Way::kNotFound, E_UNEXPECTED, true},
      {"it is another process's current folder", Way::kInUse, tmn::kTreeNotAllDeleted, true},
      {"it was renamed away", Way::kRenamedAway, S_OK, false},
      {"a file took its place", Way::kReplacedByAFile, E_UNEXPECTED, true},
      {"its deletion is pending", Way::kDeletePending, tmn::kTreeNotAllDeleted, true},
  };
  for (const Case& c : cases) {
    TempDir dir(L"tree");
    const std::wstring root = dir / L"tree";
    ASSERT_TRUE(MakeFolder(root));
    for (const wchar_t* folder : {L"\\d1", L"\\d2", L"\\d3", L"\\d2\\inner"}) ASSERT_TRUE(MakeFolder(root + folder));
    for (const wchar_t* file : {L"\\a.txt", L"\\d1\\f.txt", L"\\d2\\f.txt", L"\\d3\\f.txt", L"\\d2\\inner\\g.txt"})
      ASSERT_TRUE(MakeFile(root + file));
    FileSystemRecorder recorder;
    std::wstring first;  // the first folder below the root the walk opens
    tmn::UniqueFile held;
    recorder.beforeOpen = [&](const std::wstring& path) {
      if (!first.empty() || path.size() <= root.size() + 1 || path.compare(0, root.size() + 1, root + L"\\") != 0 ||
          path.find(L'\\', root.size() + 1) != std::wstring::npos || !(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY))
        return;
      first = path;
      if (c.way == Way::kInUse) {  // held as a process holds its current folder: without sharing its deletion
        held.reset(CreateFileW(path.c_str(), FILE_TRAVERSE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      }
      if (c.way == Way::kRenamedAway || c.way == Way::kReplacedByAFile) {
        ASSERT_TRUE(MoveFileW(path.c_str(), (dir / L"moved").c_str()));
        if (c.way == Way::kReplacedByAFile) {
          ASSERT_TRUE(tmtest::WriteFileText(path, "in its place"));
        }
      }
    };
    recorder.refuseListing = [&](const std::wstring& folder) { return c.way == Way::kListingRefused && folder == first; };
    recorder.openRefusal = c.way == Way::kDeletePending ? static_cast<NTSTATUS>(0xC0000056)
                           : c.way == Way::kNotFound    ? tmn::kStatusObjectNameNotFound
                                                        : tmn::kStatusAccessDenied;
    recorder.refuseOpen = [&](const std::wstring& path, ACCESS_MASK) {
      return (c.way == Way::kOpenRefused || c.way == Way::kNotFound || c.way == Way::kDeletePending) && path == first;
    };

    EXPECT_EQ(c.result, tmn::DeleteTree(tmtest::MakeWide(root), {})) << c.what;

    ASSERT_FALSE(first.empty()) << c.what;
    for (const wchar_t* folder : {L"d1", L"d2", L"d3"}) {
      const std::wstring path = root + L"\\" + folder;
      if (path == first) continue;
      EXPECT_FALSE(Exists(path)) << c.what << ": " << tmtest::Narrow(folder) << " went with it";
    }
    EXPECT_FALSE(Exists(root + L"\\a.txt")) << c.what;
    EXPECT_EQ(c.itStays, Exists(first)) << c.what;
    EXPECT_EQ(c.itStays, Exists(root)) << c.what;
    if (c.way == Way::kInUse) {
      EXPECT_FALSE(Exists(first + L"\\f.txt")) << "what the folder in use held went";
    } else if (c.way != Way::kReplacedByAFile && c.way != Way::kRenamedAway) {
      EXPECT_TRUE(Exists(first + L"\\f.txt")) << c.what;
    }
    if (c.way == Way::kRenamedAway || c.way == Way::kReplacedByAFile) {
      EXPECT_TRUE(Exists(dir / L"moved\\f.txt")) << c.what;
    }
  }
}
// What a tree costs through the seam, told apart by difference: the calls
// each file adds, and each folder besides its files.
TEST(DeleteTree, CostsThreeCallsAFileAndFiveAFolder) {
  const auto cost = [](int folders, int files) {
    TempDir dir(L"cost");
    const std::wstring root = dir / L"tree";
    EXPECT_TRUE(MakeFolder(root));
    for (int i = 0; i < folders; ++i) {
      const std::wstring folder = root + L"\\d" + std::to_wstring(i);
      EXPECT_TRUE(MakeFolder(folder));
      for (int j = 0; j < files; ++j) EXPECT_TRUE(MakeFile(folder + L"\\f" + std::to_wstring(j)));
    }
    FileSystemRecorder recorder;
    EXPECT_EQ(S_OK, tmn::DeleteTree(tmtest::MakeWide(root), {}));
    return recorder.seamCalls.load();
  };
  const long base = cost(10, 10), moreFiles = cost(10, 20), moreFolders = cost(20, 10);
  const double perFile = (moreFiles - base) / 100.0, perFolder = (moreFolders - base) / 10.0 - 10 * perFile;
  printf("calls: %.2f a file, %.2f a folder\n", perFile, perFolder);
  EXPECT_LE(perFile, 3.0);
  EXPECT_LE(perFolder, 5.0);
}

}  // namespace
