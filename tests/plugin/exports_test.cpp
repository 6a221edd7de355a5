// The exports as the installer calls them: through the built DLL of the
// flavour this file is built for, with stacks of GlobalAlloc nodes and
// variable arrays that end at a guard page.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "plugin/frame.h"
#include "process/process_control.h"
#include "support/installed_product.h"
#include "support/test_support.h"

namespace {

using HostStack = tmtest::BasicHostStack<stack_t>;
using GuardedVariables = tmtest::BasicGuardedVariables<tmn::HostChar>;
using PluginFunction = void(__cdecl*)(HWND, int, tmn::HostChar*, stack_t**, extra_parameters*);
const tmn::HostChar kJunk = static_cast<tmn::HostChar>(0xbdbd);
#if defined(_WIN64)
const wchar_t kFlavourFolder[] = L"amd64-unicode";
const char kTreeName[] = "tree \u4e2d\u0416\U0001F600";  // outside every ANSI code page
#elif defined(TM_HOST_UNICODE)
const wchar_t kFlavourFolder[] = L"x86-unicode";
const char kTreeName[] = "tree \u4e2d\u0416\U0001F600";  // outside every ANSI code page
#else
const wchar_t kFlavourFolder[] = L"x86-ansi";
const char kTreeName[] = "tree";
#endif

class Exports : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryW(tmtest::PluginDllPath(kFlavourFolder).c_str());
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
    // Signed decimal of the whole pointer, in either bitness.
    const long long address = std::strtoll(variables.text(10).c_str(), nullptr, 10);
    return reinterpret_cast<const tmn::PidTicket*>(static_cast<intptr_t>(address));
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
  const std::string expected = tmtest::WindowsIs64Bit() ? "64" : "32";
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
    ASSERT_NE(nullptr, ticket) << variables.text(10);
    EXPECT_EQ(1234, ticket->processId);
    EXPECT_EQ(1234u, ticket->mixedId ^ ticket->tickCount);
    EXPECT_EQ(12u, GlobalSize(const_cast<tmn::PidTicket*>(ticket)));
    // Only $R0 is written.
    EXPECT_EQ(kJunk, variables.slot(9)[0]);
    EXPECT_EQ(kJunk, variables.slot(9)[string_size - 1]);
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

bool Exists(const std::string& path) { return tmtest::FileExists(tmtest::Widen(path)); }

std::string MakeSmallTree(const std::string& root) {
  CreateDirectoryW(tmtest::Widen(root).c_str(), nullptr);
  CreateDirectoryW(tmtest::Widen(root + "\\sub").c_str(), nullptr);
  tmtest::WriteFileText(tmtest::Widen(root + "\\sub\\f.txt"), "x");
  SetFileAttributesW(tmtest::Widen(root + "\\sub\\f.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  return root;
}

TEST_F(Exports, PowerDeleteDirDeletesTheTreeAndPopsOnlyItsPath) {
  tmtest::TempDir dir(L"export");
  const std::string base = tmtest::Narrow(dir.path());
  for (int string_size : {256, 1024, 8192}) {
    const std::string root = MakeSmallTree(base + "\\" + kTreeName);
    HostStack stack(string_size);
    GuardedVariables variables(string_size);
    stack.Push("below");
    stack.Push(root);
    Call("PowerDeleteDir", stack, variables);
    EXPECT_EQ(std::vector<std::string>{"below"}, stack.Texts());
    EXPECT_FALSE(Exists(root)) << root;
  }
}

TEST_F(Exports, PowerDeleteDirTakes199CharacterPathsAndRefusesLongerOnes) {
  tmtest::TempDir dir(L"export");
  const std::string base = tmtest::Narrow(dir.path()) + "\\";
  ASSERT_LT(base.size(), 150u);
  const std::string exact = MakeSmallTree(base + std::string(199 - base.size(), 'd'));
  ASSERT_EQ(199u, exact.size());
  // The first 199 characters of a longer path name another folder, which
  // must not be deleted in its place.
  const std::string other = MakeSmallTree(base + std::string(199 - base.size(), 'e'));
  const std::string longer = other + "e";
  MakeSmallTree(longer);

  HostStack stack(1024);
  GuardedVariables variables(1024);
  stack.Push("below");
  stack.Push(exact);
  Call("PowerDeleteDir", stack, variables);
  EXPECT_FALSE(Exists(exact));
  stack.Push(longer);
  Call("PowerDeleteDir", stack, variables);
  EXPECT_TRUE(Exists(other + "\\sub\\f.txt"));
  EXPECT_TRUE(Exists(longer + "\\sub\\f.txt"));
  EXPECT_EQ(std::vector<std::string>{"below"}, stack.Texts());
}

TEST_F(Exports, PowerDeleteDirWithNothingUsableDeletesNothing) {
  tmtest::TempDir dir(L"export");
  const std::string file = tmtest::Narrow(dir / L"file.txt");
  tmtest::WriteFileText(tmtest::Widen(file), "keep");
  // The empty text must not stand for the folder the installer stands in.
  const std::wstring current = dir / L"current";
  CreateDirectoryW(current.c_str(), nullptr);
  tmtest::WriteFileText(current + L"\\inside.txt", "keep");
  HostStack stack(1024);
  GuardedVariables variables(1024);
  stack.Push("below");
  {
    tmtest::CurrentFolder standing(current);
    for (const std::string& text : {file, std::string(), tmtest::Narrow(dir / L"missing")}) {
      stack.Push(text);
      Call("PowerDeleteDir", stack, variables);
      EXPECT_EQ(std::vector<std::string>{"below"}, stack.Texts()) << text;
    }
    stack.Pop(nullptr);
    Call("PowerDeleteDir", stack, variables);  // nothing on the stack at all
  }
  EXPECT_TRUE(Exists(file));
  EXPECT_TRUE(Exists(tmtest::Narrow(current + L"\\inside.txt")));
}

TEST_F(Exports, CleanupExportsPopTheirAnswerAndOnlyTheExactYDeletesDownloads) {
  tmtest::InstalledProduct product;
  product.WriteConfig("[DownFiles]\n1=kb.msu\n");  // a hotfix download to keep
  const struct {
    const char* name;
    const wchar_t* download;
  } exports[] = {{"PromptDeleteSoftDownloadedFiles", L"Orvik\\Download\\p.exe"},
                 {"PromptDeleteDriverDownloadedFiles", L"Driver\\Download\\d.exe"},
                 {"PromptDeleteHotfixFiles", L"Hotfix\\kb.msu"}};
  for (int string_size : kStringSizes) {
    for (const auto& e : exports) {
      for (const std::string& answer : {std::string("y") + std::string(250, ' '), std::string("Y"), std::string("y")}) {
        const std::wstring download = product.MakeFile(e.download);
        HostStack stack(string_size);
        GuardedVariables variables(string_size);
        stack.Push("below");
        stack.Push(answer);
        Call(e.name, stack, variables);
        EXPECT_EQ(std::vector<std::string>{"below"}, stack.Texts()) << e.name;
        // A cut text is never "y", whatever it began with.
        const bool deleted = answer == "y" && string_size > 1;
        EXPECT_EQ(!deleted, tmtest::FileExists(download)) << e.name << " answer '" << answer.substr(0, 3) << "'";
      }
    }
  }
}

TEST_F(Exports, PromptDelHotfixFilesPopsNothingAndCleansEveryKindWithYes) {
  tmtest::InstalledProduct product;
  for (const wchar_t* download : {L"Hotfix\\kb.msu", L"Orvik\\Download\\p.exe", L"Driver\\Download\\d.exe"})
    product.MakeFile(download);
  HostStack stack(1024);
  GuardedVariables variables(1024);
  stack.Push("below");
  stack.Push("pushed before");
  Call("PromptDelHotfixFiles", stack, variables);
  EXPECT_EQ((std::vector<std::string>{"pushed before", "below"}), stack.Texts());
  for (const wchar_t* folder : {L"Hotfix", L"Orvik\\Download", L"Driver\\Download"})
    EXPECT_FALSE(tmtest::FileExists(product / folder)) << tmtest::Narrow(folder);
  // With no stack at all the answer is empty: leftovers go, downloads stay.
  product.MakeFile(L"Orvik\\Download\\p.exe");
  product.WriteConfig("[SoftMain]\nSoftDownDir=" + tmtest::Narrow(product / L"Orvik\\Download") + "\n");
  product.MakeFile(L"Orvik\\Download\\p.exe.tmp");
  Get("PromptDeleteSoftDownloadedFiles")(nullptr, 1024, nullptr, nullptr, nullptr);
  EXPECT_TRUE(tmtest::FileExists(product / L"Orvik\\Download\\p.exe"));
  EXPECT_FALSE(tmtest::FileExists(product / L"Orvik\\Download\\p.exe.tmp"));
}

}  // namespace
