#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "base/unique.h"
#include "fs/folder_by_path.h"
#include "security/access_repair.h"
#include "support/file_system_recorder.h"
#include "support/test_support.h"

using tmtest::AceRecord;
using tmtest::Describe;
using tmtest::FileSystemRecorder;
using tmtest::kAdministrators;
using tmtest::kEveryone;
using tmtest::kSystem;
using tmtest::kUsers;
using tmtest::SecurityWrite;
using tmtest::TempDir;

namespace {

const AceRecord* Find(const std::vector<AceRecord>& aces, const std::wstring& sid, int type) {
  for (const AceRecord& ace : aces)
    if (ace.sid == sid && ace.type == type) return &ace;
  return nullptr;
}

// The security calls of a repair, their kinds and information.
std::vector<std::wstring> SecurityCalls(const FileSystemRecorder& recorder, const std::wstring& path) {
  std::vector<std::wstring> calls;
  for (const std::wstring& call : recorder.Calls())
    if (call.find(L"-security " + path + L" ") != std::wstring::npos) calls.push_back(call.substr(0, call.find(L' ')) + call.substr(call.rfind(L' ')));
  return calls;
}

class RepairAccessTest : public ::testing::Test {
 public:
  void SetUp() override { ASSERT_TRUE(tmtest::WriteFileText(file_, "x")); }
  // The entry as its checked folder lists it, as the tree deleter hands it over.
  int Repair() {
    tmn::HeldPath folder;
    EXPECT_EQ(S_OK, tmn::OpenFolderByPath(tmtest::MakeWide(dir_.path()), nullptr, &folder));
    return tmn::RepairAccessOf(tmn::ExpectedEntry{&folder.folder, L"locked.txt", 10, 0, true, false});
  }
  TempDir dir_{L"repair"};
  std::wstring file_ = dir_ / L"locked.txt";
};

TEST_F(RepairAccessTest, OwnsTheEntryThenRewritesItsListAloneWithNothingToInheritAndGivesTheOwnerBack) {
  FileSystemRecorder recorder;
  recorder.descriptor = L"O:BUG:BUD:(D;;FA;;;WD)(D;;FA;;;BU)(A;;FA;;;BU)(D;;FA;;;AN)(A;;0x1200a9;;;WD)";

  EXPECT_EQ(1, Repair());

  EXPECT_EQ((std::vector<std::wstring>{L"read-security 0x1", L"write-security 0x1", L"read-security 0x4",
                                       L"write-security 0x80000004", L"write-security 0x1"}),
            SecurityCalls(recorder, file_));
  const std::vector<SecurityWrite> writes = recorder.Writes();
  ASSERT_EQ(3u, writes.size());
  for (const SecurityWrite& write : writes) EXPECT_TRUE(write.alone);
  EXPECT_EQ(kAdministrators, writes[0].owner);
  EXPECT_EQ(kUsers, writes[2].owner) << "the owner read before the repair";
  const std::vector<AceRecord>& dacl = writes[1].dacl;
  for (const AceRecord& ace : dacl) {
    EXPECT_NE(ACCESS_DENIED_ACE_TYPE, ace.type) << Describe(dacl);
    EXPECT_NE(kUsers, ace.sid) << "Users keep no rights: " << Describe(dacl);
  }
  for (const wchar_t* sid : {kSystem, kAdministrators}) {
    const AceRecord* granted = Find(dacl, sid, ACCESS_ALLOWED_ACE_TYPE);
    ASSERT_NE(nullptr, granted) << Describe(dacl);
    EXPECT_EQ(FILE_ALL_ACCESS, granted->mask);
    EXPECT_EQ(0, granted->flags) << "nothing passes to what a folder holds";
  }
  EXPECT_NE(nullptr, Find(dacl, kEveryone, ACCESS_ALLOWED_ACE_TYPE)) << "entries that only allowed stay";
}

TEST_F(RepairAccessTest, AFailedListWriteMeansNoRetryAndUnreadableSecurityLeavesNoOwnerToGiveBack) {
  {
    FileSystemRecorder recorder;
    recorder.writeStatus = [](DWORD info) { return info == 0x80000004 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS; };
    EXPECT_EQ(0, Repair());
    EXPECT_EQ(3u, recorder.Writes().size()) << "the owner is still given back";
  }
  FileSystemRecorder recorder;
  recorder.readStatus = [](const std::wstring&) { return static_cast<DWORD>(ERROR_ACCESS_DENIED); };
  EXPECT_EQ(1, Repair());
  const std::vector<SecurityWrite> writes = recorder.Writes();
  ASSERT_EQ(2u, writes.size());
  EXPECT_EQ(kAdministrators, writes[0].owner);
  EXPECT_EQ(L"(0,0,2032127,S-1-5-18)(0,0,2032127,S-1-5-32-544)", Describe(writes[1].dacl));
}

TEST(RepairAccessOnWine, MakesAFileWithADenyEveryoneListDeletableAgain) {
  TempDir dir(L"repair");
  const std::wstring file = dir / L"denied.txt";
  ASSERT_TRUE(tmtest::WriteFileText(file, "x"));
  PSECURITY_DESCRIPTOR made = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(D;;FA;;;WD)", SDDL_REVISION_1, &made, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL deny = nullptr;
  GetSecurityDescriptorDacl(made, &present, &deny, &defaulted);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            SetNamedSecurityInfoW(&std::wstring(file)[0], SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  deny, nullptr));
  LocalFree(made);

  EXPECT_FALSE(DeleteFileW(file.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  tmn::HeldPath folder;
  ASSERT_EQ(S_OK, tmn::OpenFolderByPath(tmtest::MakeWide(dir.path()), nullptr, &folder));
  EXPECT_EQ(1, tmn::RepairAccessOf(tmn::ExpectedEntry{&folder.folder, L"denied.txt", 10, 0, true, false}));
  EXPECT_TRUE(DeleteFileW(file.c_str())) << GetLastError();
}

// The installer's token keeps no privilege a repair needed only for itself.
TEST(RepairPrivileges, EnableTakingOwnershipWhileTheyLiveAndSetItBack) {
  tmtest::SetTakeOwnership(false);
  {
    tmn::RepairPrivileges privileges;
    EXPECT_TRUE(tmtest::TakeOwnershipEnabled());
  }
  EXPECT_FALSE(tmtest::TakeOwnershipEnabled());
}

}  // namespace
