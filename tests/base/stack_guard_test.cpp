#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

DWORD ExitCodeOfStackSmash(const wchar_t* count) {
  tmtest::ChildProcess child;
  if (!child.Start(tmtest::HelperPath(L"stacksmash.exe"), count)) return 0xdeadbeef;
  if (!child.WaitForExit(30000)) return 0xdeadbeef;
  DWORD code = 0xdeadbeef;
  GetExitCodeProcess(child.handle(), &code);
  return code;
}

TEST(StackGuard, IsSetAtLoadAndEndsAProcessWhoseStackWasOverrun) {
  EXPECT_EQ(0u, ExitCodeOfStackSmash(L"0"));
  EXPECT_EQ(0u, ExitCodeOfStackSmash(L"16"));
  EXPECT_EQ(static_cast<DWORD>(STATUS_STACK_BUFFER_OVERRUN), ExitCodeOfStackSmash(L"64"));
}

}  // namespace
