#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "process/process_control.h"
#include "support/test_support.h"

using tmtest::ChildProcess;
using tmtest::TempDir;

namespace {

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  std::ifstream in(tmtest::Narrow(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool WaitForLine(const std::wstring& path, const std::string& wanted, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < timeout_ms) {
    for (const std::string& line : ReadLines(path))
      if (line == wanted) return true;
    Sleep(20);
  }
  return false;
}

std::vector<std::string> SysCommands(const std::vector<std::string>& lines) {
  std::vector<std::string> found;
  for (const std::string& line : lines)
    if (line.find("syscommand") != std::string::npos) found.push_back(line);
  return found;
}

TEST(RequestMainWindowsClose, AsksOneWindowOfEachClassClassOneFirst) {
  TempDir dir(L"windows");
  const std::wstring record = dir / L"record.txt";
  ChildProcess host;
  ASSERT_TRUE(host.Start(tmtest::HelperPath(L"winhost.exe"), L"\"" + record + L"\" 1 20"));
  ASSERT_TRUE(WaitForLine(record, "ready", 10000));

  tmn::RequestMainWindowsClose();

  ASSERT_TRUE(host.WaitForExit(10000));
  const std::vector<std::string> lines = ReadLines(record);
  EXPECT_EQ((std::vector<std::string>{"1 0 syscommand 0xF062", "2 0 syscommand 0xF062"}), SysCommands(lines));
  // The default window procedure took 0xF062 for a close.
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "1 0 destroy"));
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "2 0 destroy"));
}

TEST(RequestMainWindowsClose, LeavesTheOtherWindowsOfAClassAlone) {
  TempDir dir(L"windows");
  const std::wstring record = dir / L"record.txt";
  ChildProcess host;
  ASSERT_TRUE(host.Start(tmtest::HelperPath(L"winhost.exe"), L"\"" + record + L"\" 2 3"));
  ASSERT_TRUE(WaitForLine(record, "ready", 10000));

  tmn::RequestMainWindowsClose();

  ASSERT_TRUE(WaitForLine(record, "exit", 10000));
  const std::vector<std::string> asked = SysCommands(ReadLines(record));
  ASSERT_EQ(2u, asked.size());
  EXPECT_EQ('1', asked[0][0]);
  EXPECT_EQ('2', asked[1][0]);
}

// Posting to a window that was not found would queue the request on the
// calling thread itself (a null window posts a thread message).
TEST(RequestMainWindowsClose, WithNoProductWindowPostsNothing) {
  ASSERT_EQ(nullptr, FindWindowW(tmn::kMainWindowClasses[0], nullptr));
  ASSERT_EQ(nullptr, FindWindowW(tmn::kMainWindowClasses[1], nullptr));
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // gives this thread its queue
  while (PeekMessageW(&message, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE)) {
  }

  tmn::RequestMainWindowsClose();

  int posted = 0;
  while (PeekMessageW(&message, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE))
    if (message.message == WM_SYSCOMMAND) ++posted;
  EXPECT_EQ(0, posted);
}

TEST(ArchitectureText, SixtyFourOnlyForAmd64AndItaniumOnAnNtSystemThatCanTell) {
  const WORD kArm = 5, kArm64 = 12;
  struct Case {
    tmn::ArchitectureFacts facts;
    const wchar_t* expected;
  } cases[] = {
      {{true, VER_PLATFORM_WIN32_NT, true, PROCESSOR_ARCHITECTURE_AMD64}, L"64"},
      {{true, VER_PLATFORM_WIN32_NT, true, PROCESSOR_ARCHITECTURE_IA64}, L"64"},
      {{true, VER_PLATFORM_WIN32_NT, true, PROCESSOR_ARCHITECTURE_INTEL}, L"32"},
      {{true, VER_PLATFORM_WIN32_NT, true, kArm}, L"32"},
      {{true, VER_PLATFORM_WIN32_NT, true, kArm64}, L"32"},
      {{true, VER_PLATFORM_WIN32_WINDOWS, true, PROCESSOR_ARCHITECTURE_AMD64}, L"32"},
      {{true, VER_PLATFORM_WIN32_NT, false, PROCESSOR_ARCHITECTURE_AMD64}, L"32"},
      {{false, VER_PLATFORM_WIN32_NT, true, PROCESSOR_ARCHITECTURE_AMD64}, L"32"},
  };
  for (const Case& c : cases)
    EXPECT_STREQ(c.expected, tmn::ArchitectureText(c.facts))
        << "platform " << c.facts.platformId << ", architecture " << c.facts.processorArchitecture;
}

TEST(ReadArchitectureFacts, ReportsTheMachineNotTheProcess) {
  const tmn::ArchitectureFacts facts = tmn::ReadArchitectureFacts();
  EXPECT_TRUE(facts.versionRead);
  EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), facts.platformId);
  EXPECT_TRUE(facts.hasNativeSystemInfo);
  EXPECT_EQ(tmtest::WindowsIs64Bit() ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL,
            facts.processorArchitecture);
}

}  // namespace
