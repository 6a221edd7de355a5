// The frame of either host flavour: this file is built once per flavour,
// so every case runs with char texts and with WCHAR texts.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "plugin/frame.h"
#include "support/test_support.h"

using tmn::HostChar;

namespace {

using Text = std::basic_string<HostChar>;
using HostStack = tmtest::BasicHostStack<HostChar>;
using GuardedVariables = tmtest::BasicGuardedVariables<HostChar>;
const HostChar kJunk = static_cast<HostChar>(0xbdbd);

Text T(const std::string& ascii) { return Text(ascii.begin(), ascii.end()); }

Text Pop(HostStack& stack, bool* whole = nullptr) {
  tmn::StoreContext(stack.string_size(), nullptr, stack.top<stack_t>());
  tmn::ArgumentBuffer argument;
  memset(argument, 0xbd, sizeof(argument));
  const bool fit = tmn::PopArgument(argument);
  if (whole != nullptr) *whole = fit;
  return argument;
}

TEST(PopArgument, TakesExactlyTheTopNodeAndLeavesTheRest) {
  HostStack stack(1024);
  stack.Push(T("below"));
  stack.Push(T("top"));
  EXPECT_EQ(T("top"), Pop(stack));
  EXPECT_EQ(std::vector<Text>{T("below")}, stack.Texts());
}

TEST(PopArgument, EmptyStackOrNoStackGivesTheEmptyText) {
  HostStack stack(1024);
  EXPECT_EQ(Text(), Pop(stack));
  tmn::StoreContext(1024, nullptr, nullptr);
  tmn::ArgumentBuffer argument;
  memset(argument, 0xbd, sizeof(argument));
  tmn::PopArgument(argument);
  EXPECT_EQ(Text(), Text(argument));
}

TEST(PopArgument, KeepsTextsUpTo199CharactersAndCutsLongerOnes) {
  for (int string_size : {200, 1024, 8192}) {
    for (size_t length : {0u, 1u, 198u, 199u, 200u, 201u, 1023u}) {
      if (length >= static_cast<size_t>(string_size)) continue;
      HostStack stack(string_size);
      Text text;
      for (size_t i = 0; i < length; ++i) text += static_cast<HostChar>('a' + i % 26);
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
    stack.PushUnterminated(T("x"));
    const size_t expected = string_size < 199 ? string_size : 199;
    bool whole = true;
    EXPECT_EQ(Text(expected, 'x'), Pop(stack, &whole)) << "string_size " << string_size;
    EXPECT_FALSE(whole) << "string_size " << string_size;
  }
}

TEST(PushResult, PushesAZeroFilledNodeAboveTheExistingOnes) {
  HostStack stack(16);
  stack.Push(T("below"));
  tmn::StoreContext(16, nullptr, stack.top<stack_t>());
  ASSERT_TRUE(tmn::PushResult(T("64").c_str()));
  EXPECT_EQ((std::vector<Text>{T("64"), T("below")}), stack.Texts());
  // The node and 16 characters of the host's type, as the host allocates.
  EXPECT_GE(GlobalSize(*stack.top<stack_t>()), 8u + 16u * sizeof(HostChar));
  // A text longer than the slot is cut so that its NUL stays inside it.
  ASSERT_TRUE(tmn::PushResult(T("0123456789abcdefXYZ").c_str()));
  EXPECT_EQ(T("0123456789abcde"), stack.Texts()[0]);
  ASSERT_TRUE(tmn::PushAsciiResult(L"32"));
  EXPECT_EQ(T("32"), stack.Texts()[0]);
}

TEST(PushResult, WithoutAStackPushesNothing) {
  tmn::StoreContext(1024, nullptr, nullptr);
  EXPECT_FALSE(tmn::PushResult(T("64").c_str()));
}

TEST(WriteVariable, FillsR0UpToTheGuardPageAndLeavesOtherSlotsAlone) {
  for (int string_size : {16, 1024, 8192}) {
    GuardedVariables variables(string_size);
    tmn::StoreContext(string_size, variables.get(), nullptr);
    const Text fits(string_size - 1, '7');
    tmn::WriteVariable(tmn::kVarR0, fits.c_str());
    EXPECT_EQ(fits, Text(variables.slot(10)));
    // Longer than the slot: cut, never written past $R0.
    const Text longer(string_size + 50, '8');
    tmn::WriteVariable(tmn::kVarR0, longer.c_str());
    EXPECT_EQ(Text(string_size - 1, '8'), Text(variables.slot(10)));
    EXPECT_EQ(kJunk, variables.slot(9)[string_size - 1]);
    EXPECT_EQ(kJunk, variables.slot(0)[0]);
  }
}

TEST(WriteVariable, WritesEveryHostVariableAndNothingOutsideThem) {
  // The host's 25 variables, $LANGUAGE the last before the guard page.
  GuardedVariables variables(16, 25);
  tmn::StoreContext(16, variables.get(), nullptr);
  tmn::WriteAsciiVariable(tmn::kVarLanguage, L"1033");
  EXPECT_EQ(T("1033"), Text(variables.slot(24)));
  // Slot 25 would be the guard page itself; slot -1 lies before the array.
  const HostChar before = variables.get()[-1];
  tmn::WriteVariable(tmn::kHostVariableCount, T("x").c_str());
  tmn::WriteVariable(static_cast<tmn::HostVariable>(-1), T("x").c_str());
  EXPECT_EQ(before, variables.get()[-1]);
  EXPECT_EQ(kJunk, variables.slot(23)[0]);
}

TEST(PopWideArgument, HandsOverWholeTextsAndRefusesCutOnesWhenAsked) {
  const struct {
    size_t length;
    tmn::LongText longText;
    bool taken;
    size_t seen;
  } cases[] = {{199, tmn::LongText::kRefuse, true, 199},
               {200, tmn::LongText::kRefuse, false, 0},
               {200, tmn::LongText::kCut, true, 199},
               {0, tmn::LongText::kRefuse, true, 0}};
  for (const auto& c : cases) {
    HostStack stack(1024);
    stack.Push(Text(c.length, 'k'));
    tmn::StoreContext(1024, nullptr, stack.top<stack_t>());
    tmn::WideString argument;
    EXPECT_EQ(c.taken, tmn::PopWideArgument(&argument, c.longText)) << "length " << c.length;
    EXPECT_EQ(std::wstring(c.seen, L'k'), tmtest::Text(argument)) << "length " << c.length;
    EXPECT_TRUE(stack.Texts().empty());
  }
}

#ifdef TM_HOST_UNICODE
const std::wstring kGrin = L"\U0001F600";  // one character, a surrogate pair

TEST(UnicodeFrame, PassesTextsOnAsTheyStandAndNeverCutsASurrogatePair) {
  // Texts of a prefix of 'a' and grinning faces; the cut at 199 characters
  // falls before, inside or after a pair.
  const struct {
    int string_size;
    size_t prefix;
    size_t total;  // in WCHARs, the NUL left out
    size_t kept;
    bool whole;
  } cases[] = {{1024, 197, 199, 199, true},  {1024, 197, 201, 199, false}, {1024, 198, 200, 198, false},
               {1024, 198, 210, 198, false}, {1024, 199, 203, 199, false}, {200, 197, 199, 199, true}};
  for (const auto& c : cases) {
    std::wstring text(c.prefix, L'a');
    while (text.size() < c.total) text += kGrin;
    text.resize(c.total);
    HostStack stack(c.string_size);
    stack.Push(text);
    bool whole = !c.whole;
    EXPECT_EQ(text.substr(0, c.kept), Pop(stack, &whole)) << "prefix " << c.prefix << ", total " << c.total;
    EXPECT_EQ(c.whole, whole) << "prefix " << c.prefix << ", total " << c.total;
  }
  // A node without its NUL: the string_size-th WCHAR may be a pair's first half.
  for (const auto& c : {std::make_pair(150, 150u), std::make_pair(152, 151u)}) {
    const std::wstring pattern = L"a" + kGrin;
    std::wstring expected;
    while (expected.size() < c.second) expected += pattern;
    HostStack stack(c.first);
    stack.PushUnterminated(pattern);
    EXPECT_EQ(expected.substr(0, c.second), Pop(stack)) << "string_size " << c.first;
  }
  // Names outside every ANSI code page reach the worker unchanged.
  const std::wstring name = L"D\u00e9j\u00e0 \u4e2d\u6587 \u0416" + kGrin + L".exe";
  HostStack stack(1024);
  stack.Push(name);
  tmn::StoreContext(1024, nullptr, stack.top<stack_t>());
  tmn::WideString argument;
  ASSERT_TRUE(tmn::PopWideArgument(&argument, tmn::LongText::kRefuse));
  EXPECT_EQ(name, tmtest::Text(argument));
  // Pushes and variable writes cut before a pair too, never inside it.
  tmn::StoreContext(16, nullptr, stack.top<stack_t>());
  ASSERT_TRUE(tmn::PushResult((std::wstring(14, L'b') + kGrin).c_str()));
  EXPECT_EQ(std::wstring(14, L'b'), stack.Texts()[0]);
  ASSERT_TRUE(tmn::PushResult((std::wstring(13, L'b') + kGrin).c_str()));
  EXPECT_EQ(std::wstring(13, L'b') + kGrin, stack.Texts()[0]);
  GuardedVariables variables(16);
  tmn::StoreContext(16, variables.get(), nullptr);
  tmn::WriteVariable(tmn::kVarR0, (std::wstring(14, L'c') + kGrin).c_str());
  EXPECT_EQ(std::wstring(14, L'c'), Text(variables.slot(10)));
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
