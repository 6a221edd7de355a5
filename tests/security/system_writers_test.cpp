#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "base/unique.h"
#include "security/system_writers.h"
#include "support/file_system_recorder.h"
#include "support/test_support.h"

using tmtest::FileSystemRecorder;
using tmtest::TempDir;

namespace {

// TrustedInstaller, and the one user every file belongs to under Wine.
#define TI L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
#define WINE_USER L"S-1-5-21-0-0-0-1000"
// System32 as Windows sets it, and as Wine shows it.
constexpr wchar_t kWindowsSystem[] =
    L"O:" TI L"D:PAI(A;;FA;;;" TI L")(A;CIIO;GA;;;" TI L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)"
    L"(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)";
constexpr wchar_t kWineSystem[] = L"O:" WINE_USER L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" WINE_USER L")(A;OICI;0x1200a9;;;WD)";

tmn::UniqueLocal Descriptor(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR made = nullptr;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &made, nullptr)) << sddl;
  return tmn::UniqueLocal(made);
}

TEST(SystemWriters, AreThoseWhoMayChangeTheSystemFolderAndNoOneElse) {
  struct Case {
    const wchar_t* what;
    const wchar_t* system;
    const wchar_t* object;
    bool own;
  };
  const Case cases[] = {
      {L"Program Files", kWindowsSystem,
       L"O:" TI L"D:PAI(A;;FA;;;" TI L")(A;;0x1301bf;;;SY)(A;;0x1301bf;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GA;;;CO)", true},
      {L"a folder the installer made there", kWindowsSystem,
       L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;OICIIOID;GA;;;CO)", true},
      {L"Downloads", kWindowsSystem, L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-1-2-3-1001)",
       false},
      {L"a user's file in a folder of administrators", kWindowsSystem, L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)", false},
      {L"C:\\Vardo, Authenticated Users: Modify", kWindowsSystem,
       L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1301bf;;;AU)", false},
      {L"users may only add files", kWindowsSystem, L"O:BAD:(A;;FA;;;BA)(A;;0x1200ab;;;BU)", false},
      {L"users may only write attributes", kWindowsSystem, L"O:BAD:(A;;FA;;;BA)(A;;0x1201a9;;;BU)", false},
      {L"users may only rewrite the list", kWindowsSystem, L"O:BAD:(A;;FA;;;BA)(A;;WD;;;BU)", false},
      {L"GENERIC_WRITE to Everyone", kWindowsSystem, L"O:BAD:(A;;GW;;;WD)", false},
      {L"Everyone only passed to what is made inside", kWindowsSystem, L"O:BAD:(A;;FA;;;BA)(A;OICIIO;FA;;;WD)", true},
      {L"Everyone denied, users may read", kWindowsSystem, L"O:BAD:(D;;FA;;;WD)(A;;FA;;;SY)(A;;0x1200a9;;;BU)", true},
      {L"OWNER RIGHTS of an administrators' file", kWindowsSystem, L"O:BAD:(A;;FA;;;OW)", true},
      {L"Wine: a new folder", kWineSystem, kWineSystem, true},
      {L"Wine: Everyone given GENERIC_ALL", kWineSystem,
       L"O:" WINE_USER L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" WINE_USER L")(A;OICI;0x1301ff;;;WD)", false},
      {L"Wine: another user's file", kWineSystem, L"O:S-1-5-21-0-0-0-1001D:(A;;FA;;;SY)", false},
  };
  for (const Case& c : cases) {
    tmn::UniqueLocal system = Descriptor(c.system), object = Descriptor(c.object);
    tmn::SystemWriters writers;
    const bool taken = writers.Take(system.get());
    EXPECT_EQ(c.own, taken && tmn::OnlyTheyMayChange(object.get(), writers)) << tmtest::Narrow(c.what);
  }
  // No access list at all: everyone may do anything.
  tmn::UniqueLocal system = Descriptor(kWindowsSystem), owner = Descriptor(L"O:BA");
  SECURITY_DESCRIPTOR open;
  PSID administrators = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(GetSecurityDescriptorOwner(owner.get(), &administrators, &defaulted));
  ASSERT_TRUE(SetSecurityDescriptorOwner(&open, administrators, FALSE) && SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
  tmn::SystemWriters writers;
  ASSERT_TRUE(writers.Take(system.get()));
  EXPECT_FALSE(tmn::OnlyTheyMayChange(&open, writers));
}

// What Wine keeps: a scratch folder is the system's own as System32 is,
// and stops being so once Everyone may change it.
TEST(SystemWriters, FollowWhatWineKeepsOfAFoldersAccess) {
  TempDir dir(L"writers");
  const std::wstring file = dir / L"tarnbase.dll";
  ASSERT_TRUE(tmtest::WriteFileText(file, "MZ"));
  EXPECT_TRUE(tmn::OnlySystemWritersMayChangeFile(file.c_str()));
  ASSERT_TRUE(tmtest::GrantEveryoneFullAccess(dir.path()));
  EXPECT_FALSE(tmn::OnlySystemWritersMayChangeFile(file.c_str()));
}

// Windows' lists through the seam: the file and its folder both count, and
// nothing that cannot be read passes.
TEST(SystemWriters, JudgeTheFileAndItsFolder) {
  TempDir dir(L"writers");
  const std::wstring file = dir / L"tarnbase.dll";
  ASSERT_TRUE(tmtest::WriteFileText(file, "MZ"));
  const std::wstring users = L"O:BAD:(A;;FA;;;BA)(A;;0x1301bf;;;BU)", admins = L"O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
  struct Case {
    std::wstring file, folder;
    DWORD folderRead;
    bool own;
  } cases[] = {
      {admins, admins, ERROR_SUCCESS, true},
      {users, admins, ERROR_SUCCESS, false},
      {admins, users, ERROR_SUCCESS, false},
      {admins, admins, ERROR_ACCESS_DENIED, false},
  };
  for (const Case& c : cases) {
    FileSystemRecorder recorder;
    recorder.descriptorOf = [&](const std::wstring& path) {
      if (path == file) return c.file;
      if (path == dir.path()) return c.folder;
      return std::wstring(kWindowsSystem);
    };
    recorder.readStatus = [&](const std::wstring& path) {
      return path == dir.path() ? c.folderRead : static_cast<DWORD>(ERROR_SUCCESS);
    };
    EXPECT_EQ(c.own, tmn::OnlySystemWritersMayChangeFile(file.c_str()))
        << tmtest::Narrow(c.file) << " in " << tmtest::Narrow(c.folder) << ", read " << c.folderRead;
  }
  EXPECT_FALSE(tmn::OnlySystemWritersMayChangeFile(L"tarnbase.dll"));
  EXPECT_FALSE(tmn::OnlySystemWritersMayChangeFile(dir.path().c_str()));
}

}  // namespace
