#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "base/heap.h"
#include "base/unique.h"
#include "security/access_repair.h"
#include "support/file_system_recorder.h"
#include "support/test_support.h"

using tmtest::AceRecord;
using tmtest::Describe;
using tmtest::kAdministrators;
using tmtest::kEveryone;
using tmtest::kSystem;
using tmtest::kUsers;
using tmtest::FileSystemRecorder;
using tmtest::SecurityWrite;
using tmtest::TempDir;

namespace {

HANDLE OpenForRepair(const std::wstring& path) {
  return CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

const AceRecord* Find(const std::vector<AceRecord>& aces, const std::wstring& sid, int type) {
  for (const AceRecord& ace : aces)
    if (ace.sid == sid && ace.type == type) return &ace;
  return nullptr;
}

class RepairAccessTest : public ::testing::Test {
 public:
  void SetUp() override {
    file_ = dir_ / L"locked.txt";
    ASSERT_TRUE(tmtest::WriteFileText(file_, "x"));
  }
  // Through the entry's own handle, as the tree deleter hands it over.
  static int Repair(const std::wstring& path) {
    tmn::UniqueFile entry(OpenForRepair(path));
    EXPECT_TRUE(entry.valid()) << GetLastError();
    return tmn::RepairAccessOf(entry.get());
  }
  TempDir dir_{L"repair"};
  std::wstring file_;
};

TEST_F(RepairAccessTest, StripsDenyEntriesGrantsSystemAndAdministratorsAndGivesTheOwnerBack) {
  FileSystemRecorder recorder;
  recorder.descriptor = L"O:BUG:BUD:(D;;FA;;;WD)(D;;FA;;;BU)(A;;FA;;;BU)(D;;FA;;;AN)(A;;0x1200a9;;;WD)";

  EXPECT_EQ(1, Repair(file_));

  const std::vector<std::wstring> expected = {
      L"read-security " + file_ + L" 0x5",
      L"write-security " + file_ + L" 0x30000001",
      L"write-security " + file_ + L" 0x80000004",
      L"write-security " + file_ + L" 0x30000001",
  };
  EXPECT_EQ(expected, recorder.Calls());
  const std::vector<SecurityWrite> writes = recorder.Writes();
  ASSERT_EQ(3u, writes.size());
  EXPECT_EQ(kAdministrators, writes[0].owner);
  EXPECT_FALSE(writes[0].daclGiven);
  EXPECT_EQ(kUsers, writes[2].owner) << "the owner read before the repair";

  const std::vector<AceRecord>& dacl = writes[1].dacl;
  EXPECT_TRUE(writes[1].owner.empty());
  for (const AceRecord& ace : dacl) {
    EXPECT_NE(ACCESS_DENIED_ACE_TYPE, ace.type) << Describe(dacl);
  }
  const AceRecord* system = Find(dacl, kSystem, ACCESS_ALLOWED_ACE_TYPE);
  const AceRecord* administrators = Find(dacl, kAdministrators, ACCESS_ALLOWED_ACE_TYPE);
  ASSERT_NE(nullptr, system) << Describe(dacl);
  ASSERT_NE(nullptr, administrators) << Describe(dacl);
  EXPECT_EQ(FILE_ALL_ACCESS, system->mask);
  EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, system->flags);
  EXPECT_EQ(FILE_ALL_ACCESS, administrators->mask);
  EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, administrators->flags);
  for (const AceRecord& ace : dacl) {
    if (ace.sid == kUsers) {
      EXPECT_EQ(0u, ace.mask) << "Users keep no rights: " << Describe(dacl);
    }
  }
  // Entries that only allowed stay.
  EXPECT_NE(nullptr, Find(dacl, kEveryone, ACCESS_ALLOWED_ACE_TYPE)) << Describe(dacl);
}

TEST_F(RepairAccessTest, AFailedAccessListWriteMeansNoRetry) {
  FileSystemRecorder recorder;
  recorder.writeStatus = [](DWORD info) { return info == 0x80000004 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS; };
  EXPECT_EQ(0, Repair(file_));
  EXPECT_EQ(4u, recorder.Calls().size()) << "the owner is still given back";
}

TEST_F(RepairAccessTest, UnreadableSecurityGivesOnlyTheThreeEntriesAndNoOwnerToGiveBack) {
  FileSystemRecorder recorder;
  recorder.readStatus = [](const std::wstring&) { return static_cast<DWORD>(ERROR_ACCESS_DENIED); };
  EXPECT_EQ(1, Repair(file_));
  const std::vector<SecurityWrite> writes = recorder.Writes();
  ASSERT_EQ(2u, writes.size());
  EXPECT_EQ(kAdministrators, writes[0].owner);
  const std::vector<AceRecord>& dacl = writes[1].dacl;
  EXPECT_NE(nullptr, Find(dacl, kSystem, ACCESS_ALLOWED_ACE_TYPE)) << Describe(dacl);
  EXPECT_NE(nullptr, Find(dacl, kAdministrators, ACCESS_ALLOWED_ACE_TYPE)) << Describe(dacl);
  for (const AceRecord& ace : dacl)
    EXPECT_TRUE(ace.sid == kSystem || ace.sid == kAdministrators || (ace.sid == kUsers && ace.mask == 0))
        << Describe(dacl);
}

TEST_F(RepairAccessTest, WithoutTheAdministratorsSidOnlyTheAccessListIsWritten) {
  FileSystemRecorder recorder;
  PACL dacl = nullptr;
  EXPLICIT_ACCESS_W access;
  BuildExplicitAccessWithNameW(&access, const_cast<wchar_t*>(L"System"), FILE_ALL_ACCESS, SET_ACCESS,
                               SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), SetEntriesInAclW(1, &access, nullptr, &dacl));
  BYTE owner[SECURITY_MAX_SID_SIZE];
  DWORD ownerSize = sizeof(owner);
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinUsersSid, nullptr, owner, &ownerSize));
  tmn::UniqueFile object(OpenForRepair(file_));

  EXPECT_EQ(1, tmn::WriteRepairedAccess(object.get(), dacl, owner, nullptr));
  LocalFree(dacl);

  EXPECT_EQ(std::vector<std::wstring>{L"write-security " + file_ + L" 0x80000004"}, recorder.Calls());
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
  EXPECT_EQ(1, RepairAccessTest::Repair(file));
  EXPECT_TRUE(DeleteFileW(file.c_str())) << GetLastError();
}

TEST(GetAdministratorsSid, FindsTheBuiltinAdministratorsGroup) {
  PSID sid = nullptr;
  ASSERT_TRUE(tmn::GetAdministratorsSid(&sid));
  EXPECT_EQ(kAdministrators, tmtest::SidText(sid));
  tmn::HeapRelease(sid);
}

// The take-ownership privilege's state in this process's token.
DWORD TakeOwnershipAttributes() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0xdeadbeef;
  LUID privilege;
  LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &privilege);
  DWORD bytes = 0;
  GetTokenInformation(token, TokenPrivileges, nullptr, 0, &bytes);
  std::vector<BYTE> buffer(bytes);
  DWORD attributes = 0xdeadbeef;
  if (GetTokenInformation(token, TokenPrivileges, buffer.data(), bytes, &bytes)) {
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
      if (privileges->Privileges[i].Luid.LowPart == privilege.LowPart &&
          privileges->Privileges[i].Luid.HighPart == privilege.HighPart)
        attributes = privileges->Privileges[i].Attributes;
  }
  CloseHandle(token);
  return attributes;
}

void DisableTakeOwnership() {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &privileges.Privileges[0].Luid);
  privileges.Privileges[0].Attributes = 0;
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), nullptr, nullptr));
  CloseHandle(token);
}

TEST(EnableTakeOwnership, EnablesThePrivilegeInTheProcessTokenAndSetsItBack) {
  DisableTakeOwnership();
  ASSERT_EQ(0u, TakeOwnershipAttributes() & SE_PRIVILEGE_ENABLED);
  EXPECT_FALSE(tmn::EnableTakeOwnership(nullptr));
  EXPECT_EQ(0u, TakeOwnershipAttributes() & SE_PRIVILEGE_ENABLED);
  TOKEN_PRIVILEGES previous;
  EXPECT_TRUE(tmn::EnableTakeOwnership(GetCurrentProcess(), &previous));
  EXPECT_EQ(static_cast<DWORD>(SE_PRIVILEGE_ENABLED), TakeOwnershipAttributes() & SE_PRIVILEGE_ENABLED);
  tmn::RestorePrivileges(GetCurrentProcess(), previous);
  EXPECT_EQ(0u, TakeOwnershipAttributes() & SE_PRIVILEGE_ENABLED);
}

// The installer's token keeps no privilege a repair needed only for itself.
TEST_F(RepairAccessTest, LeavesTheTakeOwnershipPrivilegeAsItFoundIt) {
  DisableTakeOwnership();
  FileSystemRecorder recorder;
  EXPECT_EQ(1, Repair(file_));
  EXPECT_EQ(0u, TakeOwnershipAttributes() & SE_PRIVILEGE_ENABLED);
}

}  // namespace
