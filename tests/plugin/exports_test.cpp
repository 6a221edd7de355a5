// The exports as the installer calls them: through the built DLL, with
// stacks of GlobalAlloc nodes and variable arrays that end at a guard page.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "process/process_control.h"
#include "support/test_support.h"

using tmtest::GuardedVariables;
using tmtest::HostStack;

namespace {

using PluginFunction = void(__cdecl*)(HWND, int, char*, stack_t**, void*);

class Exports : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryW(tmtest::PluginDllPath().c_str());
    ASSERT_NE(nullptr, module_) << "error " << GetLastError();
  }
  static void TearDownTestSuite() { FreeLibrary(module_); }

  static PluginFunction Get(const char* name) {
    auto f = reinterpret_cast<PluginFunction>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    EXPECT_NE(nullptr, f) << name;
    return f;
  }

  static void Call(const char* name, HostStack& stack, GuardedVariables& variables) {
    Get(name)(nullptr, stack.string_size(), variables.get(), stack.top(), nullptr);
  }

  static const tmn::PidTicket* TicketIn(GuardedVariables& variables) {
    const long address = std::strtol(variables.slot(10), nullptr, 10);
    return reinterpret_cast<const tmn::PidTicket*>(static_cast<uintptr_t>(static_cast<uint32_t>(address)));
  }

  static HMODULE module_;
};
HMODULE Exports::module_ = nullptr;

const int kStringSizes[] = {16, 1024, 8192};

TEST_F(Exports, ExportsWithoutArgumentsLeaveTheStackAsItWas) {
  for (int string_size : kStringSizes) {
    HostStack stack(string_size);
    GuardedVariables variables(string_size);
    stack.Push("below");
    stack.Push("pushed before");
    Call("CheckCloseMain", stack, variables);
    EXPECT_EQ((std::vector<std::string>{"pushed before", "below"}), stack.Texts());
  }
}

TEST_F(Exports, WindowsPlatformArchitecturePushesItsAnswerAboveWhatWasThere) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  const std::string expected = wow64 ? "64" : "32";
  for (int string_size : kStringSizes) {
    HostStack stack(string_size);
    GuardedVariables variables(string_size);
    stack.Push("below");
    Call("WindowsPlatformArchitecture", stack, variables);
    EXPECT_EQ((std::vector<std::string>{expected, "below"}), stack.Texts());
  }
  // No stack: nothing is pushed, and nothing fails.
  Get("WindowsPlatformArchitecture")(nullptr, 1024, nullptr, nullptr, nullptr);
}

TEST_F(Exports, KillProcByPidWritesTheTicketAddressToR0AndPopsOneText) {
  for (int string_size : kStringSizes) {
    HostStack stack(string_size);
    GuardedVariables variables(string_size);
    stack.Push("below");
    stack.Push("1234");
    Call("KillProcByPid", stack, variables);
    EXPECT_EQ(std::vector<std::string>{"below"}, stack.Texts());
    const tmn::PidTicket* ticket = TicketIn(variables);
    ASSERT_NE(nullptr, ticket) << variables.slot(10);
    EXPECT_EQ(1234, ticket->processId);
    EXPECT_EQ(1234u, ticket->mixedId ^ ticket->tickCount);
    EXPECT_EQ(12u, GlobalSize(const_cast<tmn::PidTicket*>(ticket)));
    // Only $R0 is written.
    EXPECT_EQ(static_cast<char>(0xbd), variables.slot(9)[0]);
    EXPECT_EQ(static_cast<char>(0xbd), variables.slot(9)[string_size - 1]);
  }
}

TEST_F(Exports, KillProcByPidSeesTheFirst199CharactersOfTextsOfEveryLength) {
  // Digits after 199 characters would push the value to its limit, so the
  // parsed id tells whether the text was cut where it should be.
  for (int string_size : kStringSizes) {
    HostStack stack(string_size);
    GuardedVariables variables(string_size);
    std::string text;
    for (int length = 0; length < string_size; ++length) {
      stack.Push(text);
      Call("KillProcByPid", stack, variables);
      ASSERT_TRUE(stack.Texts().empty());
      const std::string seen = text.substr(0, 199);
      long expected = std::strtol(seen.c_str(), nullptr, 10);
      ASSERT_EQ(expected, TicketIn(variables)->processId) << "length " << length << ", string_size " << string_size;
      text += length < 190 ? ' ' : static_cast<char>('1' + length % 9);
    }
  }
}

TEST_F(Exports, KillProcByNameTakesTextsOfEveryLengthWithoutOverrun) {
  for (int string_size : kStringSizes) {
    HostStack stack(string_size);
    GuardedVariables variables(string_size);
    stack.Push("below");
    const int step = string_size > 1024 ? 97 : 1;
    for (int length = 0; length < string_size; length += step) {
      stack.Push(std::string(length, 'q') + ".exe");
      Call("KillProcByName", stack, variables);
      ASSERT_EQ(std::vector<std::string>{"below"}, stack.Texts()) << "length " << length;
    }
  }
}

TEST_F(Exports, PoppingExportsRunWithNoStackAtAll) {
  Get("KillProcByName")(nullptr, 1024, nullptr, nullptr, nullptr);
  GuardedVariables variables(1024);
  Get("KillProcByPid")(nullptr, 1024, variables.get(), nullptr, nullptr);
  EXPECT_EQ(0, TicketIn(variables)->processId);
}

}  // namespace
