#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "fs/entry_delete.h"
#include "fs/tree_delete.h"
#include "support/file_system_recorder.h"
#include "support/test_support.h"

using tmtest::FileExists;
using tmtest::FileSystemRecorder;
using tmtest::TempDir;

namespace {

struct Hook {
  std::vector<tmn::RefusedStep> steps;
  static bool Repair(void* context, const tmn::ExpectedEntry& entry, tmn::RefusedStep step) {
    EXPECT_FALSE(entry.anyId);
    static_cast<Hook*>(context)->steps.push_back(step);
    return true;
  }
  tmn::RefusedDeleteHook Get() { return {Repair, this}; }
};

// A user who may delete an entry through its folder, but not write its
// attributes, loses it all the same: a delete asks for no more than it
// needs.
TEST(DeleteEntry, NeedsNoRightToWriteTheAttributesOfWhatItDeletes) {
  TempDir dir(L"rights");
  const std::wstring root = dir / L"tree";
  for (const wchar_t* folder : {L"", L"\\sub"}) ASSERT_TRUE(CreateDirectoryW((root + folder).c_str(), nullptr));
  for (const wchar_t* file : {L"\\a.txt", L"\\sub\\b.txt"}) ASSERT_TRUE(tmtest::WriteFileText(root + file, "x"));
  FileSystemRecorder recorder;
  recorder.refuseOpen = [](const std::wstring&, ACCESS_MASK access) { return (access & FILE_WRITE_ATTRIBUTES) != 0; };
  EXPECT_EQ(S_OK, tmn::DeleteTree(tmtest::MakeWide(root), {}));
  EXPECT_FALSE(FileExists(root));
}

// Which refused steps reach the repair: access denied to the entry alone.
// A file with a second name elsewhere keeps its access list (it is the
// other name's too), and a folder that still holds something keeps its.
TEST(DeleteEntry, ARefusedStepIsRepairedOnlyWhenAccessToTheEntryAloneWasDenied) {
  struct Case {
    const char* what;
    bool secondName;
    bool stuckChild;
    std::vector<tmn::RefusedStep> repaired;
  } cases[] = {
      {"a file refused for access", false, false, {tmn::RefusedStep::kDeleteFile}},
      {"a file with a second name outside", true, false, {}},
      {"a folder that holds a file that stays", false, true, {tmn::RefusedStep::kDeleteFile}},
  };
  for (const Case& c : cases) {
    TempDir dir(L"repair");
    const std::wstring root = dir / L"tree", file = root + L"\\stuck.txt";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(tmtest::WriteFileText(file, "x"));
    if (c.secondName) {
      ASSERT_TRUE(CreateHardLinkW((dir / L"outside.txt").c_str(), file.c_str(), nullptr));
    }
    FileSystemRecorder recorder;
    // Refused once; a stuck file for good.
    int refusals = c.stuckChild ? 100 : 1;
    recorder.refuseDelete = [&](const std::wstring& path) { return path == file && refusals-- > 0; };
    Hook hook;
    const tmn::RefusedDeleteHook callback = hook.Get();
    const HRESULT deleted = tmn::DeleteTree(tmtest::MakeWide(root), {nullptr, &callback});
    EXPECT_EQ(c.repaired, hook.steps) << c.what;
    EXPECT_EQ(c.secondName || c.stuckChild ? tmn::kTreeNotAllDeleted : S_OK, deleted) << c.what;
    EXPECT_EQ(c.secondName || c.stuckChild, FileExists(file)) << c.what;
    if (c.secondName) {
      EXPECT_TRUE(FileExists(dir / L"outside.txt"));
    }
  }
}

// Entries whose deletion waits for others to close them leave their folder
// not empty for a moment: its removal is tried once more, unless something
// below it stayed for good.
TEST(DeleteEntry, AFolderThatWasNotEmptyYetIsTriedOnceMore) {
  for (const bool stayed : {false, true}) {
    TempDir dir(L"pending");
    const std::wstring root = dir / L"tree", sub = root + L"\\sub";
    for (const std::wstring& folder : {root, sub}) ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(tmtest::WriteFileText(sub + L"\\a.txt", "x"));
    if (stayed) {
      ASSERT_TRUE(tmtest::WriteFileText(sub + L"\\stuck.txt", "x"));
    }
    FileSystemRecorder recorder;
    recorder.removeRefusal = static_cast<NTSTATUS>(0xC0000101);  // STATUS_DIRECTORY_NOT_EMPTY
    int notEmptyYet = 1;
    recorder.refuseRemove = [&](const std::wstring& path) { return path == sub && notEmptyYet-- > 0; };
    recorder.refuseDelete = [&](const std::wstring& path) { return path == sub + L"\\stuck.txt"; };
    EXPECT_EQ(stayed ? tmn::kTreeNotAllDeleted : S_OK, tmn::DeleteTree(tmtest::MakeWide(root), {})) << stayed;
    const std::vector<std::wstring> calls = recorder.CallsBelow(root);
    EXPECT_EQ(stayed ? 1 : 2, std::count(calls.begin(), calls.end(), std::wstring(L"remove sub"))) << stayed;
    EXPECT_EQ(stayed, FileExists(sub)) << stayed;
  }
}

// Read-only is the file's, under each of its names: one that has another
// name outside stays, its attributes never touched (where the volume offers
// no delete that ignores read-only).
TEST(DeleteEntry, AReadOnlyFileWithASecondNameOutsideStaysUntouched) {
  TempDir dir(L"tree");
  const std::wstring root = dir / L"tree", outside = dir / L"outside.txt";
  ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
  ASSERT_TRUE(tmtest::WriteFileText(outside, "x"));
  ASSERT_TRUE(CreateHardLinkW((root + L"\\inside.txt").c_str(), outside.c_str(), nullptr));
  ASSERT_TRUE(SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_READONLY));
  FileSystemRecorder recorder;
  EXPECT_EQ(tmn::kTreeNotAllDeleted, tmn::DeleteTree(tmtest::MakeWide(root), {}));
  EXPECT_TRUE(FileExists(root + L"\\inside.txt"));
  for (const std::wstring& call : recorder.CallsBelow(root)) EXPECT_NE(0u, call.rfind(L"attributes inside.txt", 0));
  SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// An empty folder goes; one holding anything, or another entry than the
// one its name led to (a racer's swap), stays with what it holds.
TEST(RemoveEmptyFolder, RemovesOnlyAnEmptyFolderOfItsOwn) {
  TempDir dir(L"empty");
  for (const wchar_t* folder : {L"empty", L"full", L"swapped"}) ASSERT_TRUE(CreateDirectoryW((dir / folder).c_str(), nullptr));
  ASSERT_TRUE(tmtest::WriteFileText(dir / L"full\\kept", "x"));
  EXPECT_EQ(S_OK, tmn::RemoveEmptyFolder(tmtest::MakeWide(dir / L"empty"), nullptr, nullptr));
  EXPECT_TRUE(FAILED(tmn::RemoveEmptyFolder(tmtest::MakeWide(dir / L"full"), nullptr, nullptr)));
  FileSystemRecorder recorder;
  recorder.openedId = [](const std::wstring& path, uint64_t id) {
    return path.find(L"swapped") != std::wstring::npos ? id + 1 : id;
  };
  EXPECT_EQ(tmn::kEntryNotOwn, tmn::RemoveEmptyFolder(tmtest::MakeWide(dir / L"swapped"), nullptr, nullptr));
  EXPECT_FALSE(FileExists(dir / L"empty"));
  EXPECT_TRUE(FileExists(dir / L"full\\kept"));
  EXPECT_TRUE(FileExists(dir / L"swapped"));
}

}  // namespace
