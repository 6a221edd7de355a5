#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "removal/force_delete.h"
#include "support/file_system_recorder.h"
#include "support/installed_product.h"
#include "support/test_support.h"

using tmtest::FileSystemRecorder;
using tmtest::TempDir;

namespace {


bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// root\a.txt, root\sub\b.txt, root\sub\deeper\c.txt, root\sub\empty\, root\z.txt
std::wstring MakeTree(const TempDir& dir) {
  const std::wstring root = dir / L"tree";
  for (const wchar_t* folder : {L"", L"\\sub", L"\\sub\\deeper", L"\\sub\\empty"})
    EXPECT_TRUE(CreateDirectoryW((root + folder).c_str(), nullptr));
  for (const wchar_t* file : {L"\\a.txt", L"\\sub\\b.txt", L"\\sub\\deeper\\c.txt", L"\\z.txt"})
    EXPECT_TRUE(tmtest::WriteFileText(root + file, "data"));
  return root;
}

std::vector<std::wstring> Only(const std::vector<std::wstring>& calls, const std::wstring& kind) {
  std::vector<std::wstring> kept;
  for (const std::wstring& call : calls)
    if (call.compare(0, kind.size() + 1, kind + L" ") == 0) kept.push_back(call.substr(kind.size() + 1));
  return kept;
}

// Deletions and removals in order, paths relative to the tree.
std::vector<std::wstring> Removals(const FileSystemRecorder& recorder, const std::wstring& root) {
  std::vector<std::wstring> order;
  for (const std::wstring& call : recorder.CallsBelow(root))
    if (call.rfind(L"delete ", 0) == 0 || call.rfind(L"remove ", 0) == 0) order.push_back(call);
  return order;
}

size_t IndexOf(const std::vector<std::wstring>& order, const std::wstring& call) {
  return std::find(order.begin(), order.end(), call) - order.begin();
}

int ThreadsOfThisProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  CloseHandle(snapshot);
  return count;
}

TEST(ForceDeleteTree, RefusesAnEmptyPathWithoutStartingAnything) {
  FileSystemRecorder recorder;
  EXPECT_EQ(E_INVALIDARG, tmn::ForceDeleteTree(tmn::WideString(), false));
  EXPECT_TRUE(recorder.Calls().empty());
}

TEST(ForceDeleteTree, AMissingPathOrAFileFailsAtTheFirstListingAndDeletesNothing) {
  TempDir dir(L"delete");
  const std::wstring file = dir / L"file.txt";
  ASSERT_TRUE(tmtest::WriteFileText(file, "keep"));
  FileSystemRecorder recorder;
  EXPECT_EQ(E_UNEXPECTED, tmn::ForceDeleteTree(tmtest::MakeWide(dir / L"missing"), false));
  EXPECT_EQ(E_UNEXPECTED, tmn::ForceDeleteTree(tmtest::MakeWide(file), true));
  EXPECT_TRUE(Exists(file));
  EXPECT_TRUE(Only(recorder.Calls(), L"delete").empty());
  EXPECT_TRUE(Only(recorder.Calls(), L"remove").empty());
}

TEST(ForceDeleteTree, AnEmptyDirectoryIsQueuedAloneAndRemoved) {
  TempDir dir(L"delete");
  const std::wstring root = dir / L"empty";
  ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
  FileSystemRecorder recorder;
  EXPECT_EQ(S_OK, tmn::ForceDeleteTree(tmtest::MakeWide(root), false));
  EXPECT_EQ(std::vector<std::wstring>{L"remove ."}, Removals(recorder, root));
  EXPECT_FALSE(Exists(root));
}

TEST(ForceDeleteTree, QueuesEverythingBelowADirectoryBeforeItAndTheRootLast) {
  TempDir dir(L"delete");
  const std::wstring root = MakeTree(dir);
  FileSystemRecorder recorder;
  const int threadsBefore = ThreadsOfThisProcess();

  EXPECT_EQ(S_OK, tmn::ForceDeleteTree(tmtest::MakeWide(root), false));

  EXPECT_EQ(threadsBefore, ThreadsOfThisProcess()) << "the walker has ended";
  EXPECT_FALSE(Exists(root));
  const std::vector<std::wstring> order = Removals(recorder, root);
  ASSERT_EQ(8u, order.size());
  EXPECT_EQ(L"remove .", order.back());
  const size_t sub = IndexOf(order, L"remove sub");
  for (const wchar_t* below : {L"delete sub\\b.txt", L"delete sub\\deeper\\c.txt", L"remove sub\\deeper",
                               L"remove sub\\empty"})
    EXPECT_LT(IndexOf(order, below), sub) << below;
  EXPECT_LT(IndexOf(order, L"delete sub\\deeper\\c.txt"), IndexOf(order, L"remove sub\\deeper"));
  // Depth first: sub and everything below it form one unbroken run.
  const size_t first = std::min({IndexOf(order, L"delete sub\\b.txt"), IndexOf(order, L"delete sub\\deeper\\c.txt"),
                                 IndexOf(order, L"remove sub\\deeper"), IndexOf(order, L"remove sub\\empty")});
  EXPECT_EQ(4u, sub - first);
}

TEST(ForceDeleteTree, ClearsReadOnlyAndDeletesHiddenAndSystemEntries) {
  TempDir dir(L"delete");
  const std::wstring root = MakeTree(dir);
  ASSERT_TRUE(SetFileAttributesW((root + L"\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesW((root + L"\\z.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesW((root + L"\\sub\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  FileSystemRecorder recorder;
  // Wine keeps no read-only attribute on a folder: the opened folder
  // reports one.
  recorder.openedAttributes = [&](const std::wstring& path, DWORD attributes) {
    return path == root + L"\\sub" || path == root ? attributes | FILE_ATTRIBUTE_READONLY : attributes;
  };
  const DWORD folderAttributes = GetFileAttributesW((root + L"\\sub").c_str());

  EXPECT_EQ(S_OK, tmn::ForceDeleteTree(tmtest::MakeWide(root), false));

  EXPECT_FALSE(Exists(root));
  const std::vector<std::wstring> calls = recorder.CallsBelow(root);
  for (const std::wstring folder : {L"sub", L"."}) {
    wchar_t clearedCall[64];
    swprintf(clearedCall, 64, L"attributes %ls 0x%lX", folder.c_str(),
             static_cast<unsigned long>(folderAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)));
    const size_t cleared = IndexOf(calls, clearedCall);
    ASSERT_LT(cleared, calls.size()) << "the read-only folder's attribute was cleared: " << tmtest::Narrow(folder);
    EXPECT_LT(cleared, IndexOf(calls, L"remove " + folder));
  }
}

TEST(ForceDeleteTree, ARootWithATrailingBackslashIsTheSameRoot) {
  TempDir dir(L"delete");
  const std::wstring root = MakeTree(dir);
  FileSystemRecorder recorder;
  EXPECT_EQ(S_OK, tmn::ForceDeleteTree(tmtest::MakeWide(root + L"\\"), false));
  EXPECT_FALSE(Exists(root));
  const std::vector<std::wstring> deleted = Only(recorder.Calls(), L"delete");
  EXPECT_NE(deleted.end(), std::find(deleted.begin(), deleted.end(), root + L"\\a.txt"));
}

// What one repair does through the seam: the owner read and taken, the
// list read and written, the owner given back.
const std::vector<std::wstring> kRepairSteps = {L"read-security", L"write-security", L"read-security",
                                                L"write-security", L"write-security"};

// Which refused steps are repaired and retried, by Windows version.
class RefusedDeletion : public ::testing::TestWithParam<bool> {
 protected:
  bool preVista() const { return GetParam(); }
  // The kinds of the calls made on exactly this path ("<kind> <path>[ <detail>]").
  static std::vector<std::wstring> CallsFor(const std::vector<std::wstring>& calls, const std::wstring& path) {
    std::vector<std::wstring> kinds;
    for (const std::wstring& call : calls) {
      const size_t space = call.find(L' ');
      const std::wstring kind = call.substr(0, space), rest = call.substr(space + 1);
      if (kind.rfind(L"list", 0) == 0 || kind == L"find" || kind == L"open") continue;
      if (rest == path || rest.rfind(path + L" ", 0) == 0) kinds.push_back(kind);
    }
    return kinds;
  }
};

TEST_P(RefusedDeletion, AReadOnlyFileWhoseAttributeStaysIsStillTried) {
  TempDir dir(L"delete");
  const std::wstring root = MakeTree(dir);
  const std::wstring file = root + L"\\a.txt";
  ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  FileSystemRecorder recorder;
  recorder.refuseSetAttributes = [&](const std::wstring& path) { return path == file; };

  EXPECT_EQ(S_OK, tmn::ForceDeleteTree(tmtest::MakeWide(root), preVista()));

  // The delete of a file still read-only is refused for access: before
  // Windows 6 it is repaired and tried once more, clearing again.
  std::vector<std::wstring> steps = {L"attributes", L"delete"};
  if (preVista()) {
    steps.insert(steps.end(), kRepairSteps.begin(), kRepairSteps.end());
    steps.insert(steps.end(), {L"attributes", L"delete"});
  }
  EXPECT_EQ(steps, CallsFor(recorder.Calls(), file));
  EXPECT_TRUE(Exists(file));
}

INSTANTIATE_TEST_SUITE_P(ByWindowsVersion, RefusedDeletion, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("BeforeVersion6") : std::string("Version6AndLater");
                         });

// root\dedup.dat (read-only), root\cloud\c.txt, root\junction\inner.txt,
// root\unknown\u.txt, root\symlink.txt: real entries that the listing
// reports as reparse points with the tags of their names.
TEST(ForceDeleteTree, RemovesLinksAsLinksAndTreatsOtherReparsePointsAsOrdinaryEntries) {
  TempDir dir(L"delete");
  const std::wstring root = dir / L"tree";
  for (const wchar_t* folder : {L"", L"\\cloud", L"\\junction", L"\\unknown"})
    ASSERT_TRUE(CreateDirectoryW((root + folder).c_str(), nullptr));
  for (const wchar_t* file : {L"\\dedup.dat", L"\\cloud\\c.txt", L"\\junction\\inner.txt", L"\\unknown\\u.txt",
                              L"\\symlink.txt"})
    ASSERT_TRUE(tmtest::WriteFileText(root + file, "data"));
  ASSERT_TRUE(SetFileAttributesW((root + L"\\dedup.dat").c_str(), FILE_ATTRIBUTE_READONLY));
  const std::map<std::wstring, DWORD> tags = {{L"dedup.dat", 0x80000013}, {L"cloud", 0x9000001A},
                                              {L"junction", IO_REPARSE_TAG_MOUNT_POINT}, {L"unknown", 0},
                                              {L"symlink.txt", IO_REPARSE_TAG_SYMLINK}};
  FileSystemRecorder recorder;
  recorder.listedAttributes = [&](const std::wstring& name, DWORD attributes) {
    return tags.count(name) ? attributes | FILE_ATTRIBUTE_REPARSE_POINT : attributes;
  };
  recorder.listedTag = [&](const std::wstring& name, DWORD tag) { return tags.count(name) ? tags.at(name) : tag; };
  // Opened without being followed, as Windows opens them, links show as
  // reparse points (of tag 0 here, which counts as a link).
  recorder.openedAttributes = [&](const std::wstring& path, DWORD attributes) {
    for (const wchar_t* link : {L"\\junction", L"\\unknown", L"\\symlink.txt"})
      if (path == root + link) return attributes | FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes;
  };

  EXPECT_EQ(S_OK, tmn::ForceDeleteTree(tmtest::MakeWide(root), false));

  const std::vector<std::wstring> calls = recorder.CallsBelow(root);
  const auto made = [&](const std::wstring& call) { return std::find(calls.begin(), calls.end(), call) != calls.end(); };
  // Ordinary entries: the read-only deduplicated file is cleared and goes,
  // the cloud folder is entered and goes with its file.
  EXPECT_TRUE(made(L"delete dedup.dat"));
  EXPECT_FALSE(Exists(root + L"\\dedup.dat"));
  EXPECT_TRUE(made(L"list cloud"));
  EXPECT_FALSE(Exists(root + L"\\cloud"));
  // Links: never listed, removed once, nothing behind them touched (Wine
  // refuses to remove a real folder that still holds a file).
  for (const wchar_t* link : {L"junction", L"unknown"}) {
    EXPECT_FALSE(made(std::wstring(L"list ") + link)) << tmtest::Narrow(link);
    EXPECT_EQ(1, std::count(calls.begin(), calls.end(), std::wstring(L"remove ") + link)) << tmtest::Narrow(link);
  }
  EXPECT_TRUE(Exists(root + L"\\junction\\inner.txt"));
  EXPECT_TRUE(Exists(root + L"\\unknown\\u.txt"));
  EXPECT_TRUE(made(L"delete symlink.txt"));
  for (const std::wstring& call : calls) {
    EXPECT_EQ(std::wstring::npos, call.find(L"junction\\")) << tmtest::Narrow(call);
    EXPECT_EQ(std::wstring::npos, call.find(L"unknown\\")) << tmtest::Narrow(call);
    EXPECT_NE(0u, call.rfind(L"attributes symlink.txt", 0)) << tmtest::Narrow(call);
    for (const wchar_t* link : {L"read-security junction", L"read-security unknown", L"read-security symlink"})
      EXPECT_NE(0u, call.rfind(link, 0)) << "no repair of a link: " << tmtest::Narrow(call);
  }
}

TEST(ForceDeleteTree, ARootThatIsALinkIsRemovedAloneAndNeverEntered) {
  TempDir dir(L"delete");
  const std::wstring root = MakeTree(dir);
  FileSystemRecorder recorder;
  recorder.ShowAsJunction(L"tree", root);
  recorder.refuseRemove = [](const std::wstring&) { return true; };  // as Wine refuses a Unix link

  for (const std::wstring& given : {root, root + L"\\"}) {
    recorder.Clear();
    EXPECT_EQ(S_OK, tmn::ForceDeleteTree(tmtest::MakeWide(given), true));
    std::vector<std::wstring> atOrBelow;
    for (const std::wstring& call : recorder.Calls())
      if (call.find(root) != std::wstring::npos) atOrBelow.push_back(call);
    EXPECT_EQ((std::vector<std::wstring>{L"open " + root, L"remove " + root}), atOrBelow);
  }
  EXPECT_TRUE(Exists(root + L"\\sub\\deeper\\c.txt"));
}

TEST(ForceDeleteTree, RefusesVolumeAndShareRootsAndPatternsWithoutTouchingAnything) {
  TempDir dir(L"delete");
  const std::wstring root = MakeTree(dir);
  FileSystemRecorder recorder;
  // Should a root get through, it is only listed: every change is refused.
  recorder.refuseDelete = recorder.refuseRemove = recorder.refuseSetAttributes = [](const std::wstring&) {
    return true;
  };
  const std::wstring windows = L"C:\\windows";
  tmtest::CurrentFolder standing(dir.path());
  for (const std::wstring& path : {std::wstring(L"C:\\"), std::wstring(L"C:"), std::wstring(L"c:/"),
                                   std::wstring(L"\\"), std::wstring(L"\\\\server\\share"),
                                   std::wstring(L"\\\\server\\share\\"), std::wstring(L"\\\\?\\C:\\"),
                                   std::wstring(L"\\\\?\\UNC\\server\\share"), std::wstring(L"\\??\\C:\\"),
                                   std::wstring(L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume2"),
                                   std::wstring(L"\\\\.\\globalroot\\Device\\HarddiskVolume2\\"), windows + L"\\..",
                                   root + L"\\..\\..\\..\\..\\..\\..\\..\\..", root + L"\\*",
                                   root + L"\\su?",
                                   // From where the installer stands: "x", "\\x", "C:x".
                                   std::wstring(L"tree"), root.substr(2), root.substr(0, 2) + L"tree"})
    EXPECT_EQ(E_INVALIDARG, tmn::ForceDeleteTree(tmtest::MakeWide(path), false)) << tmtest::Narrow(path);
  EXPECT_TRUE(recorder.Calls().empty());
  EXPECT_TRUE(Exists(root + L"\\sub\\b.txt"));
}

// A walk that recursed once per level would list the deepest entries with
// hundreds of kilobytes more stack in use than the first ones; this one
// keeps one open listing per level on the heap instead.
TEST(ForceDeleteTree, ListsEveryLevelOfADeepTreeAtTheSameStackDepth) {
  TempDir dir(L"delete");
  std::wstring path = dir / L"deep";
  const std::wstring root = path;
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
  for (int level = 0; level < 400; ++level) {
    path += L"\\d";
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr)) << level;
  }
  ASSERT_TRUE(tmtest::WriteFileText(L"\\\\?\\" + path + L"\\leaf.txt", "x"));
  FileSystemRecorder recorder;
  uintptr_t lowest = UINTPTR_MAX, highest = 0;
  int listed = 0;
  recorder.listedAttributes = [&](const std::wstring& name, DWORD attributes) {
    if (name != L"d" && name != L"leaf.txt") return attributes;  // the folders on the way to the tree
    volatile char marker = 0;
    const uintptr_t depth = reinterpret_cast<uintptr_t>(&marker);
    lowest = std::min(lowest, depth);
    highest = std::max(highest, depth);
    ++listed;
    return attributes;
  };

  EXPECT_EQ(S_OK, tmn::ForceDeleteTree(tmtest::MakeWide(root), false));

  EXPECT_FALSE(Exists(root));
  EXPECT_EQ(401, listed) << "400 levels and the leaf";
  EXPECT_LT(highest - lowest, 4096u) << "stack in use grew with the depth of the tree";
}

// While the walk goes on, the deleter takes what was queued in batches
// every 500 ms: many deletions see the walk at the same point (one batch),
// where a deleter without the cadence would delete each entry as soon as
// it is listed; and deleting begins before the walk has ended.
TEST(ForceDeleteTree, DeletesInBatchesWhileTheWalkGoesOn) {
  TempDir dir(L"delete");
  const std::wstring root = dir / L"slow";
  ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
  // One file per folder: a folder is listed in one call, so the walk
  // advances folder by folder.
  const int files = 40;
  for (int i = 0; i < files; ++i) {
    const std::wstring folder = root + L"\\d" + std::to_wstring(i);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(tmtest::WriteFileText(folder + L"\\f", "x"));
  }
  FileSystemRecorder recorder;
  std::atomic<int> listed{0};
  recorder.listedAttributes = [&](const std::wstring& name, DWORD attributes) {
    if (name != L"f") return attributes;
    Sleep(50);  // a slow listing: the walk takes about two seconds
    ++listed;
    return attributes;
  };
  // Only the deleting thread writes these.
  std::vector<int> listedAtEachDeletion;
  std::vector<DWORD> timeOfEachDeletion;
  recorder.refuseDelete = [&](const std::wstring&) {
    listedAtEachDeletion.push_back(listed.load());
    timeOfEachDeletion.push_back(GetTickCount());
    return false;
  };

  EXPECT_EQ(S_OK, tmn::ForceDeleteTree(tmtest::MakeWide(root), false));

  EXPECT_FALSE(Exists(root));
  ASSERT_EQ(static_cast<size_t>(files), listedAtEachDeletion.size());
  // A batch is deleted in one go; the next comes about 500 ms later. A
  // busy machine slows the deletes of a batch, but not to a quarter second.
  size_t batches = 1;
  for (size_t i = 1; i < timeOfEachDeletion.size(); ++i) {
    if (timeOfEachDeletion[i] - timeOfEachDeletion[i - 1] >= 250) ++batches;
  }
  EXPECT_GE(batches, 2u) << "one entry at a time, or all at once";
  EXPECT_LE(batches, static_cast<size_t>(files / 4)) << "batches of deletions";
  EXPECT_LT(listedAtEachDeletion.front(), listed.load()) << "deleting began only after the whole walk";
}

// A folder that refuses to be opened for deletion is still listed and
// emptied; its removal is repaired, and the retry opens it anew.
TEST(ForceDeleteTree, AFolderThatRefusesDeletionIsListedRepairedAndRemoved) {
  TempDir dir(L"delete");
  const std::wstring root = MakeTree(dir), locked = root + L"\\sub";
  FileSystemRecorder recorder;
  bool repaired = false;
  recorder.refuseOpen = [&](const std::wstring& path, ACCESS_MASK access) {
    return path == locked && (access & DELETE) != 0 && !repaired;
  };
  recorder.writeStatus = [&](DWORD) {
    repaired = true;
    return static_cast<DWORD>(ERROR_SUCCESS);
  };
  EXPECT_EQ(S_OK, tmn::ForceDeleteTree(tmtest::MakeWide(root), false));
  EXPECT_TRUE(repaired);
  EXPECT_FALSE(Exists(root));
}

// The repair rule of the Windows version that runs: a refused file delete
// is repaired and retried once before Windows 6, left alone from 6 on.
TEST(DeleteDirectoryTree, RepairsRefusedFilesOnlyBeforeWindowsSix) {
  TempDir dir(L"delete");
  const std::wstring root = MakeTree(dir);
  const std::wstring stubborn = root + L"\\a.txt";
  FileSystemRecorder recorder;
  recorder.refuseDelete = [&](const std::wstring& path) { return path == stubborn; };

  EXPECT_EQ(S_OK, tmn::DeleteDirectoryTree(tmtest::MakeWide(root)));

  const std::vector<std::wstring> calls = recorder.Calls();
  const std::vector<std::wstring> deletes = Only(calls, L"delete");
  const long attempts = std::count(deletes.begin(), deletes.end(), stubborn);
  const long repairs = std::count(calls.begin(), calls.end(), L"read-security " + stubborn + L" 0x1");
  if (tmtest::PrefixIsPreVista()) {
    EXPECT_EQ(2, attempts);
    EXPECT_EQ(1, repairs);
  } else {
    EXPECT_EQ(1, attempts);
    EXPECT_EQ(0, repairs);
  }
  EXPECT_TRUE(Exists(stubborn));
}

// Windows grants access when a handle opens, and WRITE_DAC only to the
// owner: an entry whose list denies everything (a file before Windows 6)
// or DELETE (a folder) goes once the repair has owned it first.
TEST(ForceDeleteTree, RepairsEntriesThatRefuseAnyoneButTheirOwner) {
  for (const bool preVista : {true, false}) {
    TempDir dir(L"delete");
    const std::wstring root = MakeTree(dir);
    const std::wstring locked = preVista ? root + L"\\a.txt" : root + L"\\sub\\empty";
    tmtest::SetTakeOwnership(false);
    FileSystemRecorder recorder;
    recorder.DenyEveryone(locked, preVista ? FILE_ALL_ACCESS & ~FILE_READ_ATTRIBUTES
                                           : DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER);
    EXPECT_EQ(S_OK, tmn::ForceDeleteTree(tmtest::MakeWide(root), preVista)) << preVista;
    EXPECT_FALSE(Exists(root)) << preVista;
  }
}

// A folder is repaired only once it holds nothing: the list Windows writes
// by name passes on to all it holds, a second name of an outside file too.
TEST(ForceDeleteTree, NeverRepairsAFolderThatStillHoldsSomething) {
  TempDir dir(L"delete");
  const std::wstring root = MakeTree(dir), sub = root + L"\\sub", outside = dir / L"outside.txt";
  ASSERT_TRUE(tmtest::WriteFileText(outside, "x"));
  ASSERT_TRUE(CreateHardLinkW((sub + L"\\inside.txt").c_str(), outside.c_str(), nullptr));
  FileSystemRecorder recorder;
  recorder.DenyEveryone(sub, DELETE);
  recorder.refuseDelete = [&](const std::wstring& path) { return path == sub + L"\\inside.txt"; };
  EXPECT_EQ(S_OK, tmn::ForceDeleteTree(tmtest::MakeWide(root), false));
  EXPECT_TRUE(Exists(sub + L"\\inside.txt"));
  EXPECT_TRUE(recorder.Writes().empty()) << tmtest::Narrow(recorder.Writes()[0].path);
}

// A user's oplock on an entry would hold every open that breaks it until
// the user lets go: no open waits, and one whose break is under way counts
// as in use, its handle closed, the entry left.
TEST(ForceDeleteTree, NeverWaitsForAnOplockAndLeavesTheEntryHeldByOne) {
  TempDir dir(L"delete");
  const std::wstring root = MakeTree(dir), locked = root + L"\\sub\\b.txt";
  FileSystemRecorder recorder;
  bool waited = false;
  recorder.openStatus = [&](const std::wstring& path, ULONG options, NTSTATUS opened) {
    waited = waited || (options & 0x100) == 0;  // FILE_COMPLETE_IF_OPLOCKED, for every open
    return path == locked ? static_cast<NTSTATUS>(0x108) : opened;  // STATUS_OPLOCK_BREAK_IN_PROGRESS
  };
  EXPECT_EQ(S_OK, tmn::ForceDeleteTree(tmtest::MakeWide(root), false));
  EXPECT_FALSE(waited);
  EXPECT_FALSE(Exists(root + L"\\a.txt"));
  tmn::UniqueFile alone(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(alone.valid()) << "no handle of it was kept";
}

HANDLE WINAPI NoThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

TEST(ForceDeleteTree, AWalkerThatCannotStartGivesItsOwnError) {
  TempDir dir(L"delete");
  const std::wstring root = MakeTree(dir);
  const tmn::FileSystemCalls saved = tmn::g_fileSystem;
  tmn::g_fileSystem.createThread = NoThread;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY), tmn::ForceDeleteTree(tmtest::MakeWide(root), false));
  tmn::g_fileSystem = saved;
  EXPECT_TRUE(Exists(root + L"\\a.txt"));
}

}  // namespace
