// The exports as the installer calls them: through the built DLL of the
// flavour this file is built for, with stacks of GlobalAlloc nodes and
// variable arrays that end at a guard page.
#include <gtest/gtest.h>

#include <cwchar>
#include <cstdlib>
#include <string>

#include "plugin/frame.h"
#include "process/process_control.h"
#include "support/installed_product.h"
#include "support/test_support.h"

using tmn::HostChar;

namespace {

using Text = std::basic_string<HostChar>;
using HostStack = tmtest::BasicHostStack<HostChar>;
using GuardedVariables = tmtest::BasicGuardedVariables<HostChar>;
using PluginFunction = void(__cdecl*)(HWND, int, HostChar*, stack_t**, extra_parameters*);

#ifdef TM_HOST_UNICODE
const wchar_t kFlavourFolder[] = L"x86-unicode";
// A folder name outside every ANSI code page, a surrogate pair included.
const wchar_t kTreeName[] = L"tree \u4e2d\u0416\U0001F600";
Text H(const std::wstring& text) { return text; }
long ToLong(const wchar_t* text) { return std::wcstol(text, nullptr, 10); }
#else
const wchar_t kFlavourFolder[] = L"x86-ansi";
const wchar_t kTreeName[] = L"tree";
Text H(const std::wstring& text) { return tmtest::Narrow(text); }
long ToLong(const char* text) { return std::strtol(text, nullptr, 10); }
#endif
Text T(const std::string& ascii) { return Text(ascii.begin(), ascii.end()); }
std::wstring Wide(const Text& text) { return std::wstring(text.begin(), text.end()); }

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
    Get(name)(nullptr, stack.string_size(), variables.get(), stack.top<stack_t>(), nullptr);
  }

  static const tmn::PidTicket* TicketIn(GuardedVariables& variables) {
    const long address = ToLong(variables.slot(10));
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
    stack.Push(T("below"));
    stack.Push(T("pushed before"));
    Call("CheckCloseMain", stack, variables);
    EXPECT_EQ((std::vector<Text>{T("pushed before"), T("below")}), stack.Texts());
  }
}

TEST_F(Exports, WindowsPlatformArchitecturePushesItsAnswerAboveWhatWasThere) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  const Text expected = T(wow64 ? "64" : "32");
  for (int string_size : kStringSizes) {
    HostStack stack(string_size);
    GuardedVariables variables(string_size);
    stack.Push(T("below"));
    Call("WindowsPlatformArchitecture", stack, variables);
    EXPECT_EQ((std::vector<Text>{expected, T("below")}), stack.Texts());
  }
  // No stack: nothing is pushed, and nothing fails.
  Get("WindowsPlatformArchitecture")(nullptr, 1024, nullptr, nullptr, nullptr);
}

TEST_F(Exports, KillProcByPidWritesTheTicketAddressToR0AndPopsOneText) {
  for (int string_size : kStringSizes) {
    HostStack stack(string_size);
    GuardedVariables variables(string_size);
    stack.Push(T("below"));
    stack.Push(T("1234"));
    Call("KillProcByPid", stack, variables);
    EXPECT_EQ(std::vector<Text>{T("below")}, stack.Texts());
    const tmn::PidTicket* ticket = TicketIn(variables);
    ASSERT_NE(nullptr, ticket) << variables.slot(10);
    EXPECT_EQ(1234, ticket->processId);
    EXPECT_EQ(1234u, ticket->mixedId ^ ticket->tickCount);
    EXPECT_EQ(12u, GlobalSize(const_cast<tmn::PidTicket*>(ticket)));
    // Only $R0 is written.
    EXPECT_EQ(static_cast<HostChar>(0xbdbd), variables.slot(9)[0]);
    EXPECT_EQ(static_cast<HostChar>(0xbdbd), variables.slot(9)[string_size - 1]);
  }
}

TEST_F(Exports, KillProcByPidSeesTheFirst199CharactersOfTextsOfEveryLength) {
  // Digits after 199 characters would push the value to its limit, so the
  // parsed id tells whether the text was cut where it should be.
  for (int string_size : kStringSizes) {
    HostStack stack(string_size);
    GuardedVariables variables(string_size);
    Text text;
    for (int length = 0; length < string_size; ++length) {
      stack.Push(text);
      Call("KillProcByPid", stack, variables);
      ASSERT_TRUE(stack.Texts().empty());
      const Text seen = text.substr(0, 199);
      long expected = ToLong(seen.c_str());
      ASSERT_EQ(expected, TicketIn(variables)->processId) << "length " << length << ", string_size " << string_size;
      text += length < 190 ? ' ' : static_cast<HostChar>('1' + length % 9);
    }
  }
}

TEST_F(Exports, KillProcByNameTakesTextsOfEveryLengthWithoutOverrun) {
  for (int string_size : kStringSizes) {
    HostStack stack(string_size);
    GuardedVariables variables(string_size);
    stack.Push(T("below"));
    const int step = string_size > 1024 ? 97 : 1;
    for (int length = 0; length < string_size; length += step) {
      stack.Push(Text(length, 'q') + T(".exe"));
      Call("KillProcByName", stack, variables);
      ASSERT_EQ(std::vector<Text>{T("below")}, stack.Texts()) << "length " << length;
    }
  }
}

TEST_F(Exports, PoppingExportsRunWithNoStackAtAll) {
  Get("KillProcByName")(nullptr, 1024, nullptr, nullptr, nullptr);
  GuardedVariables variables(1024);
  Get("KillProcByPid")(nullptr, 1024, variables.get(), nullptr, nullptr);
  EXPECT_EQ(0, TicketIn(variables)->processId);
}

bool Exists(const std::wstring& path) { return tmtest::FileExists(path); }

std::wstring MakeSmallTree(const std::wstring& root) {
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
  tmtest::WriteFileText(root + L"\\sub\\f.txt", "x");
  SetFileAttributesW((root + L"\\sub\\f.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  return root;
}

TEST_F(Exports, PowerDeleteDirDeletesTheTreeAndPopsOnlyItsPath) {
  tmtest::TempDir dir(L"export");
  const std::wstring base = dir.path();
  for (int string_size : {256, 1024, 8192}) {
    const std::wstring root = MakeSmallTree(base + L"\\" + kTreeName);
    HostStack stack(string_size);
    GuardedVariables variables(string_size);
    stack.Push(T("below"));
    stack.Push(H(root));
    Call("PowerDeleteDir", stack, variables);
    EXPECT_EQ(std::vector<Text>{T("below")}, stack.Texts());
    EXPECT_FALSE(Exists(root)) << tmtest::Narrow(root);
  }
}

TEST_F(Exports, PowerDeleteDirTakes199CharacterPathsAndRefusesLongerOnes) {
  tmtest::TempDir dir(L"export");
  const std::wstring base = dir.path() + L"\\";
  ASSERT_LT(base.size(), 150u);
  const std::wstring exact = MakeSmallTree(base + std::wstring(199 - base.size(), 'd'));
  ASSERT_EQ(199u, exact.size());
  // The first 199 characters of a longer path name another folder, which
  // must not be deleted in its place.
  const std::wstring other = MakeSmallTree(base + std::wstring(199 - base.size(), 'e'));
  const std::wstring longer = other + L"e";
  MakeSmallTree(longer);

  HostStack stack(1024);
  GuardedVariables variables(1024);
  stack.Push(T("below"));
  stack.Push(H(exact));
  Call("PowerDeleteDir", stack, variables);
  EXPECT_FALSE(Exists(exact));
  stack.Push(H(longer));
  Call("PowerDeleteDir", stack, variables);
  EXPECT_TRUE(Exists(other + L"\\sub\\f.txt"));
  EXPECT_TRUE(Exists(longer + L"\\sub\\f.txt"));
  EXPECT_EQ(std::vector<Text>{T("below")}, stack.Texts());
}

TEST_F(Exports, PowerDeleteDirWithNothingUsableDeletesNothing) {
  tmtest::TempDir dir(L"export");
  const std::wstring file = dir / L"file.txt";
  tmtest::WriteFileText(file, "keep");
  // The empty text must not stand for the folder the installer stands in.
  const std::wstring current = dir / L"current";
  CreateDirectoryW(current.c_str(), nullptr);
  tmtest::WriteFileText(current + L"\\inside.txt", "keep");
  HostStack stack(1024);
  GuardedVariables variables(1024);
  stack.Push(T("below"));
  {
    tmtest::CurrentFolder standing(current);
    for (const std::wstring& text : {file, std::wstring(), dir / L"missing"}) {
      stack.Push(H(text));
      Call("PowerDeleteDir", stack, variables);
      EXPECT_EQ(std::vector<Text>{T("below")}, stack.Texts()) << tmtest::Narrow(text);
    }
    stack.Pop(nullptr);
    Call("PowerDeleteDir", stack, variables);  // nothing on the stack at all
  }
  EXPECT_TRUE(Exists(file));
  EXPECT_TRUE(Exists(current + L"\\inside.txt"));
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
      for (const Text& answer : {T("y") + Text(250, ' '), T("Y"), T("y")}) {
        const std::wstring download = product.MakeFile(e.download);
        HostStack stack(string_size);
        GuardedVariables variables(string_size);
        stack.Push(T("below"));
        stack.Push(answer);
        Call(e.name, stack, variables);
        EXPECT_EQ(std::vector<Text>{T("below")}, stack.Texts()) << e.name;
        // A cut text is never "y", whatever it began with.
        const bool deleted = answer == T("y") && string_size > 1;
        EXPECT_EQ(!deleted, tmtest::FileExists(download))
            << e.name << " answer '" << tmtest::Narrow(Wide(answer.substr(0, 3))) << "'";
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
  stack.Push(T("below"));
  stack.Push(T("pushed before"));
  Call("PromptDelHotfixFiles", stack, variables);
  EXPECT_EQ((std::vector<Text>{T("pushed before"), T("below")}), stack.Texts());
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
