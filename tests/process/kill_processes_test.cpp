#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process/process_control.h"
#include "support/test_support.h"

using tmtest::ChildProcess;
using tmtest::TempDir;

namespace {


// A copy of the waiting helper under the given file name.
std::wstring WaiterNamed(const TempDir& dir, const std::wstring& name) {
  const std::wstring path = dir / name;
  EXPECT_TRUE(CopyFileW(tmtest::HelperPath(L"tmwait.exe").c_str(), path.c_str(), FALSE)) << GetLastError();
  return path;
}

bool Listed(const ChildProcess& child) { return tmtest::IsProcessListed(child.pid()); }

TEST(KillProcessesByName, EndsEveryCopyOfTheNameInAnyAsciiCaseAndNothingElse) {
  TempDir dir(L"kill");
  const std::wstring tag = std::to_wstring(GetCurrentProcessId());
  const std::wstring name = L"tmvictim" + tag + L".exe";
  const std::wstring victim = WaiterNamed(dir, name);
  const std::wstring longer = WaiterNamed(dir, L"tmvictim" + tag + L".exex.exe");
  std::vector<ChildProcess> victims(3);
  for (ChildProcess& child : victims) ASSERT_TRUE(child.Start(victim, L"60"));
  ChildProcess survivor;
  ASSERT_TRUE(survivor.Start(longer, L"60"));

  // Without extension, or a mere prefix: no match.
  EXPECT_EQ(0, tmn::KillProcessesByName(tmtest::MakeWide(L"tmvictim" + tag)));
  EXPECT_EQ(0, tmn::KillProcessesByName(tmtest::MakeWide(L"tmvictim" + tag + L".ex")));
  EXPECT_EQ(0, tmn::KillProcessesByName(tmtest::MakeWide(L"")));
  for (ChildProcess& child : victims) EXPECT_TRUE(Listed(child));

  std::wstring upper = name;
  for (wchar_t& c : upper) c = towupper(c);
  EXPECT_EQ(3, tmn::KillProcessesByName(tmtest::MakeWide(upper)));
  for (ChildProcess& child : victims) EXPECT_TRUE(tmtest::WaitUntilNotListed(child.pid(), 5000)) << child.pid();
  EXPECT_TRUE(Listed(survivor));
  EXPECT_FALSE(survivor.WaitForExit(0));
}

TEST(KillProcessesByName, NonAsciiLettersMustMatchExactly) {
  TempDir dir(L"kill");
  const std::wstring tag = std::to_wstring(GetCurrentProcessId());
  ChildProcess child;
  ASSERT_TRUE(child.Start(WaiterNamed(dir, L"tm\u00e9" + tag + L".exe"), L"60"));
  EXPECT_EQ(0, tmn::KillProcessesByName(tmtest::MakeWide(L"TM\u00c9" + tag + L".EXE")));
  EXPECT_TRUE(Listed(child));
  EXPECT_EQ(1, tmn::KillProcessesByName(tmtest::MakeWide(L"TM\u00e9" + tag + L".EXE")));
  EXPECT_TRUE(tmtest::WaitUntilNotListed(child.pid(), 5000));
}

TEST(IssuePidTicket, RecordsTheIdAndTheTickCount) {
  for (int32_t id : {1234, 0, -5, INT32_MAX, INT32_MIN}) {
    const DWORD before = GetTickCount();
    const tmn::PidTicket* ticket = tmn::IssuePidTicket(id);
    const DWORD after = GetTickCount();
    ASSERT_NE(nullptr, ticket);
    EXPECT_EQ(id, ticket->processId);
    EXPECT_EQ(static_cast<uint32_t>(id), ticket->mixedId ^ ticket->tickCount) << id;
    EXPECT_LE(ticket->tickCount - before, after - before) << id;
  }
}

}  // namespace
