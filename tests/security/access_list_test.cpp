#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/unique.h"
#include "security/access_list.h"
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

class RewriteDaclTest : public ::testing::Test {
 protected:
  RewriteDaclTest() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY, world = SECURITY_WORLD_SID_AUTHORITY;
    AllocateAndInitializeSid(&nt, 2, 32, 545, 0, 0, 0, 0, 0, 0, &users_);
    AllocateAndInitializeSid(&world, 1, 0, 0, 0, 0, 0, 0, 0, 0, &everyone_);
    AllocateAndInitializeSid(&nt, 1, 18, 0, 0, 0, 0, 0, 0, 0, &system_);
    AllocateAndInitializeSid(&nt, 2, 32, 544, 0, 0, 0, 0, 0, 0, &administrators_);
  }
  ~RewriteDaclTest() override {
    FreeSid(users_);
    FreeSid(everyone_);
    FreeSid(system_);
    FreeSid(administrators_);
  }
  // The folder opened as its maker holds it.
  tmn::UniqueFile Folder() const {
    return tmn::UniqueFile(CreateFileW(dir_.path().c_str(), READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  }
  TempDir dir_{L"dacl"};
  PSID users_ = nullptr, everyone_ = nullptr, system_ = nullptr, administrators_ = nullptr;
};

TEST_F(RewriteDaclTest, ReplacesTheListWithTheEntriesDeniesFirst) {
  FileSystemRecorder recorder;
  recorder.descriptor = L"D:(A;ID;FA;;;BU)(D;;FA;;;AN)";
  const tmn::DaclEntry entries[4] = {
      {users_, true, 0x1, 0}, {everyone_, false, 0x2, 3}, {system_, true, 0x4, 3}, {administrators_, false, 0x8, 0}};
  EXPECT_EQ(tmn::DaclWrite::kWritten, tmn::RewriteDacl(dir_.path().c_str(), entries, 4));
  const std::vector<std::wstring> expected = {L"read-security " + dir_.path() + L" 0x4",
                                              L"write-security " + dir_.path() + L" 0x4"};
  EXPECT_EQ(expected, recorder.Calls());
  const std::vector<AceRecord> dacl = recorder.Writes().at(0).dacl;
  const std::vector<AceRecord> want = {{1, 3, 0x2, kEveryone}, {1, 0, 0x8, kAdministrators},
                                       {0, 0, 0x1, kUsers},    {0, 3, 0x4, kSystem}};
  EXPECT_EQ(Describe(want), Describe(dacl));
}

TEST_F(RewriteDaclTest, FailsWithoutWritingOnANullListAnInvalidSidOrAFailedRead) {
  FileSystemRecorder recorder;
  const tmn::DaclEntry entries[1] = {{users_, true, FILE_ALL_ACCESS, 3}};
  recorder.descriptor = L"O:BU";  // no access list at all
  EXPECT_EQ(tmn::DaclWrite::kFailed, tmn::RewriteDacl(dir_.path().c_str(), entries, 1));
  recorder.descriptor = L"D:(A;;FA;;;BU)";
  BYTE broken[16] = {9};  // revision 9: not a SID
  const tmn::DaclEntry invalid[1] = {{broken, true, FILE_ALL_ACCESS, 3}};
  EXPECT_EQ(tmn::DaclWrite::kFailed, tmn::RewriteDacl(dir_.path().c_str(), invalid, 1));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SID), GetLastError());
  recorder.readStatus = [](const std::wstring&) { return static_cast<DWORD>(ERROR_ACCESS_DENIED); };
  EXPECT_EQ(tmn::DaclWrite::kFailed, tmn::RewriteDacl(dir_.path().c_str(), entries, 1));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(recorder.Writes().empty());
}

TEST_F(RewriteDaclTest, GrantUsersFullControlOpensTheFolderOnlyBeforeVersionSix) {
  const tmn::UniqueFile folder = Folder();
  FileSystemRecorder recorder;
  EXPECT_EQ(S_OK, tmn::GrantUsersFullControl(folder.get()));
  if (!tmtest::PrefixIsPreVista()) {
    EXPECT_TRUE(recorder.Calls().empty());
    return;
  }
  const std::vector<SecurityWrite> writes = recorder.Writes();
  ASSERT_EQ(1u, writes.size());
  EXPECT_EQ(static_cast<DWORD>(DACL_SECURITY_INFORMATION), writes[0].info) << "written unprotected";
  EXPECT_TRUE(writes[0].throughHandle);
  EXPECT_EQ(dir_.path(), writes[0].path);
  const std::vector<AceRecord> want = {{ACCESS_DENIED_ACE_TYPE, 3, 0, kEveryone},
                                       {ACCESS_ALLOWED_ACE_TYPE, 3, FILE_ALL_ACCESS, kUsers}};
  EXPECT_EQ(Describe(want), Describe(writes[0].dacl));
}

TEST_F(RewriteDaclTest, GrantUsersFullControlReportsWhatStoppedIt) {
  if (!tmtest::PrefixIsPreVista()) GTEST_SKIP() << "nothing is written on Windows 6 and later";
  const tmn::UniqueFile folder = Folder();
  FileSystemRecorder recorder;
  recorder.descriptor = L"O:BU";  // no access list at all
  EXPECT_EQ(E_FAIL, tmn::GrantUsersFullControl(folder.get()));
  recorder.descriptor = L"D:(A;;FA;;;BU)";
  recorder.writeStatus = [](DWORD) { return static_cast<DWORD>(ERROR_SHARING_VIOLATION); };
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), tmn::GrantUsersFullControl(folder.get()));
}

}  // namespace
