#include <gtest/gtest.h>

#include <string.h>

#include "base/windows_version.h"

namespace {

// Version queries that refuse the extended record, or every record; a
// refusal leaves junk behind, in the extended fields too.
DWORD g_sizesAsked[4];
int g_queries = 0;

template <typename Plain, typename Extended>
BOOL RefuseExtended(Plain* record) {
  g_sizesAsked[g_queries++ & 3] = record->dwOSVersionInfoSize;
  if (record->dwOSVersionInfoSize != sizeof(Plain)) {
    memset(reinterpret_cast<BYTE*>(record) + sizeof(DWORD), 0x07, sizeof(Extended) - sizeof(DWORD));
    return FALSE;
  }
  record->dwMajorVersion = 5;
  record->dwMinorVersion = 2;
  return TRUE;
}
BOOL WINAPI RefuseExtendedWide(OSVERSIONINFOW* r) { return RefuseExtended<OSVERSIONINFOW, OSVERSIONINFOEXW>(r); }
BOOL WINAPI RefuseExtendedAnsi(OSVERSIONINFOA* r) { return RefuseExtended<OSVERSIONINFOA, OSVERSIONINFOEXA>(r); }
template <typename Plain>
BOOL WINAPI RefuseEvery(Plain* record) {
  g_sizesAsked[g_queries++ & 3] = record->dwOSVersionInfoSize;
  memset(reinterpret_cast<BYTE*>(record) + sizeof(DWORD), 0x07, sizeof(Plain) - sizeof(DWORD));
  return FALSE;
}

TEST(ReadWindowsVersion, FallsBackToThePlainRecordWithTheExtendedFieldsZero) {
  OSVERSIONINFOEXW wide;
  OSVERSIONINFOEXA ansi;
  g_queries = 0;
  ASSERT_TRUE(tmn::ReadWindowsVersion(&wide, RefuseExtendedWide));
  ASSERT_EQ(2, g_queries);
  EXPECT_EQ(284u, g_sizesAsked[0]);
  EXPECT_EQ(276u, g_sizesAsked[1]);
  EXPECT_EQ(5u, wide.dwMajorVersion);
  EXPECT_EQ(2u, wide.dwMinorVersion);
  EXPECT_EQ(0, wide.wServicePackMajor);
  EXPECT_EQ(0, wide.wProductType);

  g_queries = 0;
  ASSERT_TRUE(tmn::ReadWindowsVersionAnsi(&ansi, RefuseExtendedAnsi));
  ASSERT_EQ(2, g_queries);
  EXPECT_EQ(156u, g_sizesAsked[0]);
  EXPECT_EQ(148u, g_sizesAsked[1]);
  EXPECT_EQ(5u, ansi.dwMajorVersion);
  EXPECT_EQ(0, ansi.wServicePackMajor);
}

TEST(ReadWindowsVersion, AVersionThatCannotBeReadIsZero) {
  OSVERSIONINFOEXW wide;
  g_queries = 0;
  EXPECT_FALSE(tmn::ReadWindowsVersion(&wide, RefuseEvery<OSVERSIONINFOW>));
  EXPECT_EQ(2, g_queries);
  EXPECT_EQ(0u, wide.dwMajorVersion);
  EXPECT_EQ(0u, wide.dwPlatformId);
  EXPECT_EQ(0, wide.wServicePackMajor);
  OSVERSIONINFOEXA ansi;
  EXPECT_FALSE(tmn::ReadWindowsVersionAnsi(&ansi, RefuseEvery<OSVERSIONINFOA>));
  EXPECT_EQ(0u, ansi.dwPlatformId);
}

TEST(ReadWindowsVersion, TheWideAndAnsiCallsAgreeOnThePrefixsWindows) {
  OSVERSIONINFOEXW wide;
  OSVERSIONINFOEXA ansi;
  ASSERT_TRUE(tmn::ReadWindowsVersion(&wide));
  ASSERT_TRUE(tmn::ReadWindowsVersionAnsi(&ansi));
  EXPECT_EQ(wide.dwMajorVersion, ansi.dwMajorVersion);
  EXPECT_EQ(wide.dwMinorVersion, ansi.dwMinorVersion);
  EXPECT_EQ(wide.wServicePackMajor, ansi.wServicePackMajor);
  EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), wide.dwPlatformId);
  EXPECT_EQ(wide.dwMajorVersion < 6, tmn::IsPreVistaWindows());
}

}  // namespace
