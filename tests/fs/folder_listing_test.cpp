#include <gtest/gtest.h>

#include <windows.h>

#include <stddef.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fs/checked_open.h"
#include "fs/file_system_calls.h"
#include "fs/folder_by_path.h"
#include "fs/folder_listing.h"
#include "fs/tree_delete.h"
#include "support/test_support.h"

using tmtest::TempDir;

namespace {

std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }

HANDLE OpenForListing(const std::wstring& path) {
  return CreateFileW(Long(path).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

std::vector<std::wstring> Names(HANDLE folder) {
  tmn::ListingBuffer buffer;
  tmn::FolderListing listing(folder, &buffer);
  std::vector<std::wstring> names;
  tmn::ListedEntry entry;
  while (listing.Next(&entry) == S_OK) names.emplace_back(entry.name, entry.nameLength);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(FolderListing, ListsNamesWin32WouldReReadExactlyAndFindsOneByItsExactName) {
  TempDir dir(L"listing");
  const std::wstring names[] = {L"m.", L"x ", L"nul", L"con.txt", L"aux", L"y.."};
  for (const std::wstring& name : names) ASSERT_TRUE(tmtest::WriteFileText(Long(dir / name), "data")) << name;
  ASSERT_TRUE(CreateDirectoryW((dir / L"m").c_str(), nullptr));
  tmn::UniqueFile folder(OpenForListing(dir.path()));
  std::vector<std::wstring> expected(std::begin(names), std::end(names));
  expected.push_back(L"m");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, Names(folder.get()));

  tmn::ListingBuffer buffer;
  for (const wchar_t* name : {L"m.", L"M.", L"q"}) {
    tmn::UniqueFile again(OpenForListing(dir.path()));  // a handle is searched once
    tmn::FolderListing listing(again.get(), &buffer);
    tmn::ListedEntry entry;
    const HRESULT found = listing.Find(name, wcslen(name), &entry);
    if (name[0] == L'q') {
      EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), found);
      continue;
    }
    ASSERT_EQ(S_OK, found) << tmtest::Narrow(name);
    EXPECT_EQ(std::wstring(L"m."), std::wstring(entry.name, entry.nameLength)) << "the name as it lies on disk";
    EXPECT_EQ(0u, entry.attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  // The temporary folder's own cleanup cannot get past such names.
  folder.reset();
  EXPECT_EQ(S_OK, tmn::DeleteTree(tmtest::MakeWide(dir.path()), {}));
}

// Two listings take turns in one buffer, as a walk does when it enters a
// folder: each parks the rest of its batch first, and none loses or
// repeats an entry.
TEST(FolderListing, AListingParkedWhileAnotherFillsTheSharedBufferGoesOnWhereItStood) {
  TempDir dir(L"listing");
  // Long names: one batch of the buffer holds far fewer than the 300.
  std::vector<std::wstring> names;
  for (int i = 0; i < 300; ++i) names.push_back(std::to_wstring(i) + std::wstring(40, L'n'));
  std::sort(names.begin(), names.end());
  for (const wchar_t* folder : {L"f0", L"f1"}) {
    ASSERT_TRUE(CreateDirectoryW((dir / folder).c_str(), nullptr));
    for (const std::wstring& name : names) ASSERT_TRUE(tmtest::WriteFileText(dir / folder + L"\\" + name, "x"));
  }
  tmn::UniqueFile handles[2] = {tmn::UniqueFile(OpenForListing(dir / L"f0")),
                                tmn::UniqueFile(OpenForListing(dir / L"f1"))};
  tmn::ListingBuffer buffer;
  tmn::FolderListing listings[2] = {tmn::FolderListing(handles[0].get(), &buffer),
                                    tmn::FolderListing(handles[1].get(), &buffer)};
  std::vector<std::wstring> listed[2];
  HRESULT next[2] = {S_OK, S_OK};
  // A few entries of one, then the other's turn.
  for (int turn = 0; next[0] == S_OK || next[1] == S_OK; ++turn) {
    const int which = turn % 2;
    tmn::ListedEntry entry;
    for (int i = 0; i < 7 && next[which] == S_OK; ++i)
      if ((next[which] = listings[which].Next(&entry)) == S_OK) listed[which].emplace_back(entry.name, entry.nameLength);
    ASSERT_EQ(S_OK, listings[which].Park());
  }
  for (int which = 0; which < 2; ++which) {
    EXPECT_EQ(S_FALSE, next[which]);
    std::sort(listed[which].begin(), listed[which].end());
    EXPECT_EQ(names, listed[which]) << which;
  }
}


// A batch as a listing call could fill it: one entry named "a", whose name
// length, step to the next entry and the bytes the call says it filled
// are set by the case. Whatever it says, no entry is read past the end.
struct Batch {
  const char* what;
  ULONG nameBytes;
  ULONG next;
  ULONG filled;
  int goodEntries;  // handed out before the listing fails
};
const Batch* g_batch = nullptr;

NTSTATUS NTAPI ListBatch(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                         FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN) {
  memset(buffer, 0, length);
  auto* entry = static_cast<tmn::NtDirectoryEntry*>(buffer);
  entry->nextEntryOffset = g_batch->next;
  entry->fileNameLength = g_batch->nameBytes;
  entry->fileName[0] = L'a';
  status->Information = g_batch->filled;
  return 0;
}

TEST(FolderListing, AnEntryThatRunsPastWhatTheCallFilledFailsTheListing) {
  constexpr ULONG kHead = offsetof(tmn::NtDirectoryEntry, fileName);
  const Batch batches[] = {
      {"name past the filled bytes", 64, 0, kHead + 2, 0},
      {"name past the buffer", 0x100000, 0, kHead + 2, 0},
      {"next entry past the filled bytes", 2, 8192, kHead + 2, 1},
      {"next entry past the buffer", 2, 0xFFFFFFF0, kHead + 2, 1},
      {"nothing filled", 2, 0, 0, 0},
      {"more filled than the buffer holds", 2, 0, 0x100000, 0},
  };
  const tmn::FileSystemCalls found = tmn::g_fileSystem;
  tmn::g_fileSystem.queryDirectory = ListBatch;
  for (const Batch& batch : batches) {
    g_batch = &batch;
    tmn::ListingBuffer buffer;
    tmn::FolderListing listing(nullptr, &buffer);
    tmn::ListedEntry entry;
    for (int i = 0; i < batch.goodEntries; ++i) {
      ASSERT_EQ(S_OK, listing.Next(&entry)) << batch.what;
      EXPECT_EQ(std::wstring(L"a"), std::wstring(entry.name, entry.nameLength)) << batch.what;
    }
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), listing.Next(&entry)) << batch.what;
  }
  tmn::g_fileSystem = found;
}

}  // namespace
