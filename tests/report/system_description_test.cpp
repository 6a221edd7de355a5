// The description of the running Windows against Wine's real version
// answers, kernel file and registry; the correction rule against kernel
// versions of other systems.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fs/library_machine.h"
#include "report/system_description.h"
#include "support/product_support.h"

using tmtest::MakeWide;
using tmtest::Text;

namespace {

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

// A kernel file's version: major.minor.build.revision.
tmn::FileVersion Kernel(DWORD major, DWORD minor) { return {(major << 16) | minor, 0x12345678}; }

TEST(CorrectVersionFromKernel, ANewerKernelRaisesTheVersionAndTakesTheServicePackFromTheRegistry) {
  tmtest::ScopedServicePack servicePack;
  servicePack.Delete();
  OSVERSIONINFOEXW record = Record(6, 2, 0);
  EXPECT_TRUE(tmn::CorrectVersionFromKernel(&record, Kernel(6, 3)));
  EXPECT_EQ(6u, record.dwMajorVersion);
  EXPECT_EQ(3u, record.dwMinorVersion);
  EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), record.dwPlatformId);
  EXPECT_EQ(0, record.wServicePackMajor);
  // What the correction does not own stays as reported.
  EXPECT_EQ(4321u, record.dwBuildNumber);
  EXPECT_STREQ(L"as reported", record.szCSDVersion);
  EXPECT_EQ(9, record.wServicePackMinor);

  const DWORD servicePack1 = 0x100;
  servicePack.SetBytes(REG_DWORD, &servicePack1, sizeof(servicePack1));
  record = Record(6, 2, 0);
  EXPECT_TRUE(tmn::CorrectVersionFromKernel(&record, Kernel(10, 0)));
  EXPECT_EQ(10u, record.dwMajorVersion);
  EXPECT_EQ(0u, record.dwMinorVersion);
  EXPECT_EQ(1, record.wServicePackMajor);

  // The service pack replaces the reported one, also when lower.
  record = Record(5, 1, 3);
  EXPECT_TRUE(tmn::CorrectVersionFromKernel(&record, Kernel(5, 2)));
  EXPECT_EQ(1, record.wServicePackMajor);
}

TEST(CorrectVersionFromKernel, AVersionIsNeverLowered) {
  struct {
    DWORD kernelMajor, kernelMinor, major, minor;
  } cases[] = {
      {5, 1, 5, 1},            // the same version
      {6, 1, 6, 1},            // the same version
      {6, 3, 6, 4},            // a newer minor
      {6, 3, 7, 0},            // a newer major with a lower minor
      {10, 0, 0xFFFFFFFF, 0},  // compared unsigned
      {10, 0, 0x80000000, 5},
  };
  for (const auto& c : cases) {
    OSVERSIONINFOEXW record = Record(c.major, c.minor, 3);
    EXPECT_FALSE(tmn::CorrectVersionFromKernel(&record, Kernel(c.kernelMajor, c.kernelMinor)))
        << c.kernelMajor << "." << c.kernelMinor << " " << c.major << "." << c.minor;
    EXPECT_EQ(c.major, record.dwMajorVersion);
    EXPECT_EQ(c.minor, record.dwMinorVersion);
    EXPECT_EQ(77u, record.dwPlatformId);
    EXPECT_EQ(3, record.wServicePackMajor);
  }
}

// The kernel of the system itself: what a user's "Shell Folders" value
// names is no system folder.
TEST(KernelFile, IsTheSystemsOwnWhateverAUserNames) {
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  tmn::WideString path = MakeWide(L"junk");
  ASSERT_TRUE(tmn::KernelFilePath(&path));
  EXPECT_EQ(std::wstring(folder) + L"\\ntoskrnl.exe", Text(path));

  tmtest::TempDir dir(L"kernel");
  tmtest::PlaceVersionFile(L"kernel_10_0", L"ntoskrnl.exe", dir.path());
  tmtest::ScopedShellFolder system(L"SYSTEM");
  system.SetText(dir.path());
  tmn::WideString description = MakeWide(L"junk");
  tmn::DescribeOperatingSystem(&description);
  EXPECT_EQ(tmtest::PrefixOsDescription(), Text(description));
  // Wine's kernel file is 6.1.7601 in every prefix.
  tmn::FileVersion version = {};
  ASSERT_TRUE(tmn::ReadKernelVersion(&version));
  EXPECT_EQ(0x00060001u, version.high);
}

// A 32-bit process on 64-bit Windows sees SysWOW64 as System32, and its
// 32-bit kernel file, unless the view is turned to the real one.
TEST(KernelFile, IsReadInTheRealSystemFolderAlsoFromA32BitProcess) {
  tmn::WideString kernel;
  ASSERT_TRUE(tmn::KernelFilePath(&kernel));
  const bool redirected = sizeof(void*) == 4 && tmtest::WindowsIs64Bit();
  EXPECT_EQ(tmn::LibraryMachine::kThisProcess, tmn::ReadLibraryMachine(kernel.Get()));
  {
    const tmn::RealSystemFolderView view;
    EXPECT_EQ(redirected ? tmn::LibraryMachine::kOther : tmn::LibraryMachine::kThisProcess,
              tmn::ReadLibraryMachine(kernel.Get()));
  }
  EXPECT_EQ(tmn::LibraryMachine::kThisProcess, tmn::ReadLibraryMachine(kernel.Get()));
}

BOOL WINAPI RefuseEveryRecord(OSVERSIONINFOW*) { return FALSE; }

TEST(DescribeOperatingSystem, KeepsItsTextWhenTheVersionCannotBeRead) {
  tmn::WideString description = MakeWide(L"win");
  tmn::DescribeOperatingSystem(&description, RefuseEveryRecord);
  EXPECT_EQ(L"win", Text(description));
}

}  // namespace
