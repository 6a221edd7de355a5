#include <gtest/gtest.h>

#include <string>

#include "plugin/frame.h"
#include "support/test_support.h"

using tmtest::GuardedVariables;
using tmtest::HostStack;

namespace {

std::string Pop(HostStack& stack, bool* whole = nullptr) {
  tmn::StoreContext(stack.string_size(), nullptr, stack.top());
  tmn::ArgumentBuffer argument;
  memset(argument, 0xbd, sizeof(argument));
  const bool fit = tmn::PopArgument(argument);
  if (whole != nullptr) *whole = fit;
  return argument;
}

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
  EXPECT_STREQ("", argument);
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
    stack.PushUnterminated('x');
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
  ASSERT_TRUE(tmn::PushResult("64"));
  EXPECT_EQ((std::vector<std::string>{"64", "below"}), stack.Texts());
  EXPECT_GE(GlobalSize(*stack.top()), 16u + 8u);
  // A text longer than the slot is cut so that its NUL stays inside it.
  ASSERT_TRUE(tmn::PushResult("0123456789abcdefXYZ"));
  EXPECT_EQ("0123456789abcde", stack.Texts()[0]);
}

TEST(PushResult, WithoutAStackPushesNothing) {
  tmn::StoreContext(1024, nullptr, nullptr);
  EXPECT_FALSE(tmn::PushResult("64"));
}

TEST(WriteVariable, FillsR0UpToTheGuardPageAndLeavesOtherSlotsAlone) {
  for (int string_size : {16, 1024, 8192}) {
    GuardedVariables variables(string_size);
    tmn::StoreContext(string_size, variables.get(), nullptr);
    const std::string fits(string_size - 1, '7');
    tmn::WriteVariable(tmn::kVariableR0, fits.c_str());
    EXPECT_EQ(fits, std::string(variables.slot(10)));
    // Longer than the slot: cut, never written past $R0.
    const std::string longer(string_size + 50, '8');
    tmn::WriteVariable(tmn::kVariableR0, longer.c_str());
    EXPECT_EQ(std::string(string_size - 1, '8'), std::string(variables.slot(10)));
    EXPECT_EQ(static_cast<char>(0xbd), variables.slot(9)[string_size - 1]);
    EXPECT_EQ(static_cast<char>(0xbd), variables.slot(0)[0]);
  }
}

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

}  // namespace
