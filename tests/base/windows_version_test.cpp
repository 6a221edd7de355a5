#include <gtest/gtest.h>

#include <string.h>

#include "base/windows_version.h"

namespace {

// A version query that answers only the record sizes it is given leave to
// answer (0: none); a refusal leaves junk behind, in the extended fields too.
DWORD g_answered;
DWORD g_sizesAsked[2];
int g_queries;

template <typename Record>
BOOL WINAPI AnswerOnly(Record* record) {
  g_sizesAsked[g_queries++ & 1] = record->dwOSVersionInfoSize;
  if (record->dwOSVersionInfoSize != g_answered) {
    memset(reinterpret_cast<BYTE*>(record) + sizeof(DWORD), 0x07, record->dwOSVersionInfoSize - sizeof(DWORD));
    return FALSE;
  }
  record->dwMajorVersion = 5;
  return TRUE;
}

template <typename Extended, typename Plain, typename Read>
void ExpectPlainFallbackAndZeroOnRefusal(Read read, BOOL(WINAPI* query)(Plain*)) {
  Extended record;
  for (const DWORD answered : {static_cast<DWORD>(sizeof(Plain)), 0ul}) {
    g_answered = answered;
    g_queries = 0;
    EXPECT_EQ(answered != 0, read(&record, query));
    ASSERT_EQ(2, g_queries);
    EXPECT_EQ(sizeof(Extended), g_sizesAsked[0]);
    EXPECT_EQ(sizeof(Plain), g_sizesAsked[1]);
    EXPECT_EQ(answered != 0 ? 5u : 0u, record.dwMajorVersion);
    EXPECT_EQ(0u, record.dwPlatformId);
    EXPECT_EQ(0, record.wServicePackMajor);  // an extended field
  }
}

TEST(ReadWindowsVersion, FallsBackToThePlainRecordAndIsZeroWhenBothAreRefused) {
  ExpectPlainFallbackAndZeroOnRefusal<OSVERSIONINFOEXW>(tmn::ReadWindowsVersion, AnswerOnly<OSVERSIONINFOW>);
  ExpectPlainFallbackAndZeroOnRefusal<OSVERSIONINFOEXA>(tmn::ReadWindowsVersionAnsi, AnswerOnly<OSVERSIONINFOA>);
}

}  // namespace
