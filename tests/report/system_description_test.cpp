// The description of the running Windows against Wine's real version
// answers, kernel file and registry; the kernel files of other versions are
// built for the tests and found through the current user's "Shell Folders"
// value "SYSTEM", which is looked up before the table of known folders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "support/product_support.h"
#include "report/system_description.h"

using tmtest::MakeWide;
using tmtest::ScopedShellFolder;
using tmtest::TempDir;
using tmtest::Text;

namespace {

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  return folder;
}

std::wstring WindowsFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetWindowsDirectoryW(folder, MAX_PATH);
  return folder;
}

TEST(ReadShellFolderValue, ReadsTheValueUpToItsFirstNulAndNeverMoreThan259Characters) {
  ScopedShellFolder value(L"TmTestFolder");
  // Stored without a NUL: 520 bytes fill the whole buffer.
  for (size_t length : {1u, 258u, 259u, 260u}) {
    const std::wstring stored = L"C:\\" + std::wstring(length - 1, L'f');
    value.SetText(stored.substr(0, length));
    tmn::WideString out = MakeWide(L"junk");
    EXPECT_TRUE(tmn::ReadShellFolderValue(L"TmTestFolder", &out)) << length;
    EXPECT_EQ(stored.substr(0, length < 260 ? length : 259), Text(out)) << length;
  }
  const std::wstring withNul(L"C:\\first\0second", 15);
  value.SetText(withNul);
  tmn::WideString out;
  EXPECT_TRUE(tmn::ReadShellFolderValue(L"TmTestFolder", &out));
  EXPECT_EQ(L"C:\\first", Text(out));
}

TEST(ReadShellFolderValue, AValueThatDoesNotFitOrIsMissingIsNotRead) {
  ScopedShellFolder value(L"TmTestFolder");
  value.SetText(std::wstring(300, L'x'));
  tmn::WideString out = MakeWide(L"junk");
  EXPECT_FALSE(tmn::ReadShellFolderValue(L"TmTestFolder", &out));
  EXPECT_GE(259u, out.Length());
  value.Delete();
  out = MakeWide(L"junk");
  EXPECT_FALSE(tmn::ReadShellFolderValue(L"TmTestFolder", &out));
  EXPECT_EQ(L"", Text(out));
}

TEST(GetNamedShellFolder, TakesTheUsersValueFirstThenTheTableInAnyCase) {
  ScopedShellFolder system(L"SYSTEM");
  system.Delete();
  for (const wchar_t* name : {L"SYSTEM", L"system", L"SyStEm"}) {
    tmn::WideString out = MakeWide(L"junk");
    EXPECT_TRUE(tmn::GetNamedShellFolder(name, &out)) << name;
    EXPECT_EQ(SystemFolder(), Text(out)) << name;
  }
  tmn::WideString personal, documents;
  EXPECT_TRUE(tmn::GetNamedShellFolder(L"PERSONAL", &personal));
  EXPECT_TRUE(tmn::GetNamedShellFolder(L"MYDOCUMENTS", &documents));
  EXPECT_FALSE(personal.IsEmpty());
  EXPECT_EQ(Text(personal), Text(documents));

  system.SetText(L"D:\\elsewhere");
  tmn::WideString out;
  EXPECT_TRUE(tmn::GetNamedShellFolder(L"SYSTEM", &out));
  EXPECT_EQ(L"D:\\elsewhere", Text(out));
}

TEST(ExpandFolderToken, ReplacesTokensThatNameAFolder) {
  tmn::WideString token = MakeWide(L"@WINDOWS");
  EXPECT_TRUE(tmn::ExpandFolderToken(&token));
  EXPECT_EQ(WindowsFolder(), Text(token));
  for (const wchar_t* text : {L"systemroot", L"SystemRoot", L"SYSTEMROOT"}) {
    token = MakeWide(text);
    EXPECT_TRUE(tmn::ExpandFolderToken(&token)) << text;
    EXPECT_EQ(WindowsFolder().substr(0, 3), Text(token)) << text;
  }
}

TEST(ExpandFolderToken, LeavesTokensThatNameNothingAsTheyWere) {
  for (const wchar_t* text : {L"", L"@", L"@NoSuchFolderName", L"WINDOWS", L"%SystemRoot%", L"systemroot\\x",
                              L" systemroot"}) {
    tmn::WideString token = MakeWide(text);
    EXPECT_FALSE(tmn::ExpandFolderToken(&token)) << text;
    EXPECT_EQ(text, Text(token));
  }
}

TEST(ExpandFolderToken, AnEmptyFolderEmptiesTheTokenAndAnswersFalse) {
  ScopedShellFolder value(L"TmTestFolder");
  value.SetText(L"");
  tmn::WideString token = MakeWide(L"@TmTestFolder");
  EXPECT_FALSE(tmn::ExpandFolderToken(&token));
  EXPECT_EQ(L"", Text(token));
}

// A version record as GetVersionExW fills it, with junk where the
// correction must not write.
OSVERSIONINFOEXW Record(DWORD major, DWORD minor, WORD servicePack) {
  OSVERSIONINFOEXW record = {};
  record.dwOSVersionInfoSize = sizeof(record);
  record.dwMajorVersion = major;
  record.dwMinorVersion = minor;
  record.dwBuildNumber = 4321;
  record.dwPlatformId = 77;
  wcscpy(record.szCSDVersion, L"as reported");
  record.wServicePackMajor = servicePack;
  record.wServicePackMinor = 9;
  return record;
}

// The kernel file of the given build, in a folder that "SYSTEM" names.
class KernelFile : public ::testing::Test {
 protected:
  void UseKernel(const wchar_t* tag) {
    tmtest::PlaceVersionFile(tag, L"ntoskrnl.exe", dir_ / tag);
    system_.SetText(dir_ / tag);
  }
  TempDir dir_{L"kernel"};
  ScopedShellFolder system_{L"SYSTEM"};
  tmtest::ScopedServicePack servicePack_;
};

TEST_F(KernelFile, ANewerKernelRaisesTheVersionAndTakesTheServicePackFromTheRegistry) {
  servicePack_.Delete();
  UseKernel(L"kernel_6_3");
  OSVERSIONINFOEXW record = Record(6, 2, 0);
  EXPECT_TRUE(tmn::CorrectVersionFromKernel(&record));
  EXPECT_EQ(6u, record.dwMajorVersion);
  EXPECT_EQ(3u, record.dwMinorVersion);
  EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), record.dwPlatformId);
  EXPECT_EQ(0, record.wServicePackMajor);
  // What the correction does not own stays as reported.
  EXPECT_EQ(4321u, record.dwBuildNumber);
  EXPECT_STREQ(L"as reported", record.szCSDVersion);
  EXPECT_EQ(9, record.wServicePackMinor);

  const DWORD servicePack1 = 0x100;
  servicePack_.SetBytes(REG_DWORD, &servicePack1, sizeof(servicePack1));
  UseKernel(L"kernel_10_0");
  record = Record(6, 2, 0);
  EXPECT_TRUE(tmn::CorrectVersionFromKernel(&record));
  EXPECT_EQ(10u, record.dwMajorVersion);
  EXPECT_EQ(0u, record.dwMinorVersion);
  EXPECT_EQ(1, record.wServicePackMajor);

  // The service pack replaces the reported one, also when lower.
  record = Record(5, 1, 3);
  EXPECT_TRUE(tmn::CorrectVersionFromKernel(&record));
  EXPECT_EQ(1, record.wServicePackMajor);
}

TEST_F(KernelFile, AVersionIsNeverLowered) {
  struct {
    const wchar_t* kernel;
    DWORD major, minor;
  } cases[] = {
      {L"kernel_5_1", 5, 1},           // the same version
      {L"kernel_6_1", 6, 1},           // the same version
      {L"kernel_6_3", 6, 4},           // a newer minor
      {L"kernel_6_3", 7, 0},           // a newer major with a lower minor
      {L"kernel_10_0", 0xFFFFFFFF, 0}, // compared unsigned
      {L"kernel_10_0", 0x80000000, 5},
  };
  for (const auto& c : cases) {
    UseKernel(c.kernel);
    OSVERSIONINFOEXW record = Record(c.major, c.minor, 3);
    EXPECT_FALSE(tmn::CorrectVersionFromKernel(&record)) << c.kernel << " " << c.major << "." << c.minor;
    EXPECT_EQ(c.major, record.dwMajorVersion);
    EXPECT_EQ(c.minor, record.dwMinorVersion);
    EXPECT_EQ(77u, record.dwPlatformId);
    EXPECT_EQ(3, record.wServicePackMajor);
  }
}

TEST_F(KernelFile, NoKernelFileOrNoVersionInItLeavesTheRecordAlone) {
  system_.SetText(dir_.path());
  OSVERSIONINFOEXW record = Record(5, 0, 4);
  EXPECT_FALSE(tmn::CorrectVersionFromKernel(&record));
  tmtest::WriteFileText(dir_ / L"ntoskrnl.exe", "no resources here");
  EXPECT_FALSE(tmn::CorrectVersionFromKernel(&record));
  EXPECT_EQ(5u, record.dwMajorVersion);
  EXPECT_EQ(0u, record.dwMinorVersion);
  EXPECT_EQ(4, record.wServicePackMajor);
}

TEST_F(KernelFile, TheSystemKernelRaisesOlderVersionsTo61) {
  system_.Delete();
  // Wine's kernel file is 6.1.7601 in every prefix.
  OSVERSIONINFOEXW record = Record(5, 2, 2);
  EXPECT_TRUE(tmn::CorrectVersionFromKernel(&record));
  EXPECT_EQ(6u, record.dwMajorVersion);
  EXPECT_EQ(1u, record.dwMinorVersion);
  record = Record(6, 1, 1);
  EXPECT_FALSE(tmn::CorrectVersionFromKernel(&record));
}

TEST(DescribeOperatingSystem, DescribesThePrefixsWindows) {
  ScopedShellFolder system(L"SYSTEM");
  system.Delete();
  tmn::WideString description = MakeWide(L"junk");
  tmn::DescribeOperatingSystem(&description);
  EXPECT_EQ(tmtest::PrefixOsDescription(), Text(description));
}

BOOL WINAPI RefuseEveryRecord(OSVERSIONINFOW*) { return FALSE; }

TEST(DescribeOperatingSystem, KeepsItsTextWhenTheVersionCannotBeRead) {
  tmn::WideString description = MakeWide(L"win");
  tmn::DescribeOperatingSystem(&description, RefuseEveryRecord);
  EXPECT_EQ(L"win", Text(description));
}

}  // namespace
