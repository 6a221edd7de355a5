#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "base/heap.h"
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


const AceRecord* Find(const std::vector<AceRecord>& aces, const std::wstring& sid, int type) {
  for (const AceRecord& ace : aces)
    if (ace.sid == sid && ace.type == type) return &ace;
  return nullptr;
}

TEST(CollapseBackslashes, TakesOneBackslashOutOfEachDoubledPairAfterThePrefix) {
  struct Case {
    const wchar_t* path;
    const wchar_t* collapsed;
  } cases[] = {
      {L"C:\\x\\\\a", L"C:\\x\\a"},
      {L"C:\\x\\\\\\a", L"C:\\x\\\\a"},
      {L"C:\\x\\\\a\\\\b", L"C:\\x\\a\\b"},
      {L"C:\\x\\a", L"C:\\x\\a"},
      {L"\\\\server\\share\\\\d", L"\\\\server\\share\\d"},
      {L"\\\\?\\C:\\x\\\\a", L"\\\\?\\C:\\x\\a"},
      {L"\\\\?\\UNC\\server\\share\\\\d", L"\\\\?\\UNC\\server\\share\\d"},
      {L"", L""},
  };
  for (const Case& c : cases) {
    tmn::WideString path = tmtest::MakeWide(c.path);
    tmn::CollapseBackslashes(path);
    EXPECT_EQ(std::wstring(c.collapsed), tmtest::Text(path)) << c.path;
  }
}

class RepairAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_ / L"locked.txt";
    ASSERT_TRUE(tmtest::WriteFileText(file_, "x"));
  }
  // The tree being deleted is the test's folder.
  int Repair(const std::wstring& path) { return tmn::RepairAccess(tmtest::MakeWide(path), tmtest::MakeWide(dir_.path())); }
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

TEST_F(RepairAccessTest, APathThatNoLongerExistsNeedsNoRepair) {
  FileSystemRecorder recorder;
  EXPECT_EQ(1, Repair(dir_ / L"gone.txt"));
  EXPECT_TRUE(recorder.Calls().empty());
}

TEST_F(RepairAccessTest, RepairsADoubledBackslashPathUnderItsReducedForm) {
  FileSystemRecorder recorder;
  EXPECT_EQ(1, Repair(dir_.path() + L"\\\\locked.txt"));
  for (const std::wstring& call : recorder.Calls())
    EXPECT_NE(std::wstring::npos, call.find(file_ + L" ")) << call;
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

TEST_F(RepairAccessTest, FallsBackToTheNearestAncestorOnlyWhenItDenies) {
  const std::wstring parent = dir_.path();
  {
    FileSystemRecorder recorder;
    recorder.readStatus = [&](const std::wstring& path) {
      return path == file_ ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND) : static_cast<DWORD>(ERROR_SUCCESS);
    };
    recorder.descriptor = L"O:BUD:(A;;FA;;;BU)";
    EXPECT_EQ(1, Repair(file_));
    EXPECT_EQ((std::vector<std::wstring>{L"read-security " + file_ + L" 0x5", L"read-security " + parent + L" 0x5"}),
              recorder.Calls());
  }
  {
    FileSystemRecorder recorder;
    recorder.readStatus = [&](const std::wstring& path) {
      return path == file_ ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND) : static_cast<DWORD>(ERROR_SUCCESS);
    };
    recorder.descriptor = L"O:BUD:(D;;FA;;;WD)(A;;FA;;;BU)";
    EXPECT_EQ(1, Repair(file_));
    const std::vector<SecurityWrite> writes = recorder.Writes();
    ASSERT_EQ(3u, writes.size());
    for (const SecurityWrite& write : writes) EXPECT_EQ(parent, write.path);
  }
}

TEST_F(RepairAccessTest, NeverFallsBackAboveTheBoundary) {
  // The root of the tree and everything in it read as not found (the root
  // vanished between the test and the read); its parent reads fine.
  const std::wstring root = dir_ / L"tree";
  const std::wstring file = root + L"\\sub\\x.txt";
  ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((root + L"\\sub").c_str(), nullptr));
  ASSERT_TRUE(tmtest::WriteFileText(file, "x"));
  FileSystemRecorder recorder;
  recorder.descriptor = L"O:BUD:(D;;FA;;;WD)(A;;FA;;;BU)";
  recorder.readStatus = [&](const std::wstring& path) {
    return path.compare(0, root.size(), root) == 0 ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND)
                                                   : static_cast<DWORD>(ERROR_SUCCESS);
  };

  EXPECT_EQ(1, tmn::RepairAccess(tmtest::MakeWide(file), tmtest::MakeWide(root + L"\\")));

  EXPECT_EQ((std::vector<std::wstring>{L"read-security " + file + L" 0x5",
                                       L"read-security " + root + L"\\sub 0x5", L"read-security " + root + L" 0x5"}),
            recorder.Calls());
  EXPECT_TRUE(recorder.Writes().empty());
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
  tmn::WideString object = tmtest::MakeWide(file_);

  EXPECT_EQ(1, tmn::WriteRepairedAccess(object, dacl, owner, nullptr));
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
  EXPECT_EQ(1, tmn::RepairAccess(tmtest::MakeWide(file), tmtest::MakeWide(dir.path())));
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

TEST(EnableTakeOwnership, EnablesThePrivilegeInTheProcessToken) {
  DisableTakeOwnership();
  ASSERT_EQ(0u, TakeOwnershipAttributes() & SE_PRIVILEGE_ENABLED);
  EXPECT_FALSE(tmn::EnableTakeOwnership(nullptr));
  EXPECT_EQ(0u, TakeOwnershipAttributes() & SE_PRIVILEGE_ENABLED);
  EXPECT_TRUE(tmn::EnableTakeOwnership(GetCurrentProcess()));
  EXPECT_EQ(static_cast<DWORD>(SE_PRIVILEGE_ENABLED), TakeOwnershipAttributes() & SE_PRIVILEGE_ENABLED);
}

}  // namespace
