// The frame of either host flavour: built once per flavour, so every case
// runs with char texts and with WCHAR texts (UTF-8 in the cases).
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <utility>

#include "plugin/frame.h"
#include "support/test_support.h"

namespace {

using HostStack = tmtest::BasicHostStack<stack_t>;
using GuardedVariables = tmtest::BasicGuardedVariables<tmn::HostChar>;
using HostText = std::basic_string<tmn::HostChar>;
const tmn::HostChar kJunk = static_cast<tmn::HostChar>(0xbdbd);

HostText H(const std::string& text) {
  HostText host;
  tmtest::FromUtf8(text, &host);
  return host;
}

std::string Pop(HostStack& stack, bool* whole = nullptr) {
  tmn::StoreContext(stack.string_size(), nullptr, stack.top());
  tmn::ArgumentBuffer argument;
  memset(argument, 0xbd, sizeof(argument));
  const bool fit = tmn::PopArgument(argument);
  if (whole != nullptr) *whole = fit;
  return tmtest::ToUtf8(HostText(argument));
}

// The places the host itself gives its structures, 32-bit or 64-bit: a
// shifted field fails the build.
constexpr size_t kPointer = sizeof(void*);
static_assert(kPointer == 4 || kPointer == 8, "the host is x86 or amd64");
static_assert(offsetof(stack_t, next) == 0 && offsetof(stack_t, text) == kPointer, "stack_t");
static_assert(offsetof(extra_parameters, exec_flags) == 0 && offsetof(extra_parameters, ExecuteCodeSegment) == kPointer &&
                  offsetof(extra_parameters, validate_filename) == 2 * kPointer &&
                  offsetof(extra_parameters, RegisterPluginCallback) == 3 * kPointer &&
                  sizeof(extra_parameters) == 4 * kPointer,
              "extra_parameters");

TEST(PopArgument, TakesExactlyTheTopNodeAndLeavesTheRest) {
  HostStack stack(1024);
  stack.Push("below");
  stack.Push("top");
  EXPECT_EQ("top", Pop(stack));
  EXPECT_EQ(std::vector<std::string>{"below"}, stack.Texts());
}

TEST(PopArgument, EmptyStackOrNoStackGivesTheEmptyText) {
  HostStack stack(1024);
  EXPECT_EQ("", Pop(stack));
  tmn::StoreContext(1024, nullptr, nullptr);
  tmn::ArgumentBuffer argument;
  memset(argument, 0xbd, sizeof(argument));
  tmn::PopArgument(argument);
  EXPECT_EQ(0, argument[0]);
}

TEST(PopArgument, KeepsTextsUpTo199CharactersAndCutsLongerOnes) {
  for (int string_size : {200, 1024, 8192}) {
    for (size_t length : {0u, 1u, 198u, 199u, 200u, 201u, 1023u}) {
      if (length >= static_cast<size_t>(string_size)) continue;
      HostStack stack(string_size);
      std::string text;
      for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);
      stack.Push(text);
      bool whole = false;
      EXPECT_EQ(text.substr(0, 199), Pop(stack, &whole)) << "length " << length << ", string_size " << string_size;
      EXPECT_EQ(length <= 199, whole) << "length " << length << ", string_size " << string_size;
      EXPECT_TRUE(stack.Texts().empty());
    }
  }
}

TEST(PopArgument, ReadsNoFurtherThanTheNodeTextWhenItLacksItsNul) {
  for (int string_size : {16, 150, 199, 200, 1024}) {
    HostStack stack(string_size);
    stack.PushUnterminated("x");
    const size_t expected = string_size < 199 ? string_size : 199;
    bool whole = true;
    EXPECT_EQ(std::string(expected, 'x'), Pop(stack, &whole)) << "string_size " << string_size;
    EXPECT_FALSE(whole) << "string_size " << string_size;
  }
}

TEST(PushResult, PushesAZeroFilledNodeAboveTheExistingOnes) {
  HostStack stack(16);
  stack.Push("below");
  tmn::StoreContext(16, nullptr, stack.top());
  ASSERT_TRUE(tmn::PushResult(H("64").c_str()));
  EXPECT_EQ((std::vector<std::string>{"64", "below"}), stack.Texts());
  // The node and 16 characters of the host's type, as the host allocates.
  EXPECT_GE(GlobalSize(*stack.top()), 8u + 16u * sizeof(tmn::HostChar));
  // A text longer than the slot is cut so that its NUL stays inside it.
  ASSERT_TRUE(tmn::PushResult(H("0123456789abcdefXYZ").c_str()));
  EXPECT_EQ("0123456789abcde", stack.Texts()[0]);
  ASSERT_TRUE(tmn::PushAsciiResult(L"32"));
  EXPECT_EQ("32", stack.Texts()[0]);
}

TEST(PushResult, WithoutAStackPushesNothing) {
  tmn::StoreContext(1024, nullptr, nullptr);
  EXPECT_FALSE(tmn::PushResult(H("64").c_str()));
}

TEST(WriteVariable, FillsR0UpToTheGuardPageAndLeavesOtherSlotsAlone) {
  for (int string_size : {16, 1024, 8192}) {
    GuardedVariables variables(string_size);
    tmn::StoreContext(string_size, variables.get(), nullptr);
    const std::string fits(string_size - 1, '7');
    tmn::WriteVariable(tmn::kVarR0, H(fits).c_str());
    EXPECT_EQ(fits, variables.text(10));
    // Longer than the slot: cut, never written past $R0.
    const std::string longer(string_size + 50, '8');
    tmn::WriteVariable(tmn::kVarR0, H(longer).c_str());
    EXPECT_EQ(std::string(string_size - 1, '8'), variables.text(10));
    EXPECT_EQ(kJunk, variables.slot(9)[string_size - 1]);
    EXPECT_EQ(kJunk, variables.slot(0)[0]);
  }
}

TEST(WriteVariable, WritesEveryHostVariableAndNothingOutsideThem) {
  // The host's 25 variables with one slot of junk on either side.
  GuardedVariables block(16, 27);
  tmn::StoreContext(16, block.slot(1), nullptr);
  tmn::WriteVariable(tmn::kVarLanguage, H("1033").c_str());
  EXPECT_EQ("1033", block.text(25));
  tmn::WriteVariable(tmn::kHostVariableCount, H("x").c_str());
  tmn::WriteVariable(static_cast<tmn::HostVariable>(-1), H("x").c_str());
  EXPECT_EQ(kJunk, block.slot(26)[0]);
  EXPECT_EQ(kJunk, block.slot(0)[0]);
}

#ifdef TM_HOST_UNICODE
const std::wstring kGrin = L"\U0001F600";  // one character, a surrogate pair

TEST(UnicodeFrame, PassesTextsOnAsTheyStandAndNeverCutsASurrogatePair) {
  // 'a's and then grinning faces; the cut at 199 WCHARs falls before,
  // inside or after a pair.
  const struct {
    int string_size;
    size_t prefix, total, kept;  // in WCHARs, the NUL left out
    bool whole;
  } cases[] = {{1024, 197, 199, 199, true},  {1024, 197, 201, 199, false}, {1024, 198, 200, 198, false},
               {1024, 198, 210, 198, false}, {1024, 199, 203, 199, false}, {200, 197, 199, 199, true}};
  for (const auto& c : cases) {
    std::wstring text(c.prefix, L'a');
    while (text.size() < c.total) text += kGrin;
    text.resize(c.total);
    HostStack stack(c.string_size);
    stack.Push(tmtest::Narrow(text));
    bool whole = !c.whole;
    EXPECT_EQ(tmtest::Narrow(text.substr(0, c.kept)), Pop(stack, &whole)) << "prefix " << c.prefix << ", total " << c.total;
    EXPECT_EQ(c.whole, whole) << "prefix " << c.prefix << ", total " << c.total;
  }
  // A node without its NUL: its last WCHAR may be a pair's first half.
  for (const auto& c : {std::make_pair(150, 150u), std::make_pair(152, 151u)}) {
    std::wstring expected;
    while (expected.size() < c.second) expected += L"a" + kGrin;
    HostStack stack(c.first);
    stack.PushUnterminated(tmtest::Narrow(L"a" + kGrin));
    EXPECT_EQ(tmtest::Narrow(expected.substr(0, c.second)), Pop(stack)) << "string_size " << c.first;
  }
  // Names outside every ANSI code page reach the worker unchanged.
  const std::wstring name = L"D\u00e9j\u00e0 \u4e2d\u6587 \u0416" + kGrin + L".exe";
  HostStack stack(1024);
  stack.Push(tmtest::Narrow(name));
  tmn::StoreContext(1024, nullptr, stack.top());
  tmn::WideString argument;
  ASSERT_TRUE(tmn::PopWideArgument(&argument, tmn::LongText::kRefuse));
  EXPECT_EQ(name, tmtest::Text(argument));
  // Pushes and variable writes cut before a pair too, never inside it.
  tmn::StoreContext(16, nullptr, stack.top());
  ASSERT_TRUE(tmn::PushResult((std::wstring(14, L'b') + kGrin).c_str()));
  EXPECT_EQ(std::string(14, 'b'), stack.Texts()[0]);
  ASSERT_TRUE(tmn::PushResult((std::wstring(13, L'b') + kGrin).c_str()));
  EXPECT_EQ(tmtest::Narrow(std::wstring(13, L'b') + kGrin), stack.Texts()[0]);
  GuardedVariables variables(16);
  tmn::StoreContext(16, variables.get(), nullptr);
  tmn::WriteVariable(tmn::kVarR0, (std::wstring(14, L'c') + kGrin).c_str());
  EXPECT_EQ(std::string(14, 'c'), variables.text(10));
}
#else
std::wstring Convert(const std::string& text) {
  tmn::WideString out;
  EXPECT_EQ(S_OK, tmn::AnsiToWide(text.c_str(), &out)) << text;
  return std::wstring(out.Get(), out.Length());
}

TEST(AnsiToWide, GivesTheSameTextInsideAndBeyondTheInlineRoom) {
  for (size_t length : {0u, 1u, 126u, 127u, 128u, 129u, 199u, 5000u}) {
    std::string text;
    std::wstring expected;
    for (size_t i = 0; i < length; ++i) {
      text += static_cast<char>('A' + i % 26);
      expected += static_cast<wchar_t>(L'A' + i % 26);
    }
    EXPECT_EQ(expected, Convert(text)) << "length " << length;
  }
}

TEST(AnsiToWide, ConvertsWithTheThreadsAnsiCodePage) {
  EXPECT_EQ(static_cast<UINT>(CP_THREAD_ACP), tmn::ConversionCodePage());
  wchar_t expected[2] = {};
  MultiByteToWideChar(CP_THREAD_ACP, 0, "\xE9", 1, expected, 1);
  EXPECT_EQ(std::wstring(L"caf") + expected[0], Convert("caf\xE9"));
}

#endif

}  // namespace
