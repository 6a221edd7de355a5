#include <gtest/gtest.h>

#include <string>

#include "base/array.h"
#include "base/wide_string.h"

using tmn::Array;
using tmn::Queue;
using tmn::WideString;

namespace {

WideString Make(int i) {
  WideString s;
  s.Assign(std::to_wstring(i).c_str());
  return s;
}

TEST(Array, KeepsOrderAcrossGrowthAndMovesOwnedStrings) {
  Array<WideString> items;
  for (int i = 0; i < 500; ++i) ASSERT_TRUE(items.Push(Make(i)));
  ASSERT_EQ(500u, items.Size());
  for (int i = 0; i < 500; ++i) ASSERT_STREQ(std::to_wstring(i).c_str(), items[i].Get());
  items.RemoveAt(0);
  items.RemoveAt(1);
  EXPECT_STREQ(L"1", items[0].Get());
  EXPECT_STREQ(L"3", items[1].Get());
  EXPECT_EQ(498u, items.Size());
  items.RemoveAt(1000);
  EXPECT_EQ(498u, items.Size());
}

TEST(Array, MoveHandsTheElementsOver) {
  Array<int> a;
  ASSERT_TRUE(a.Push(7));
  Array<int> b(static_cast<Array<int>&&>(a));
  EXPECT_TRUE(a.IsEmpty());
  ASSERT_EQ(1u, b.Size());
  EXPECT_EQ(7, b[0]);
}

TEST(Queue, IsFirstInFirstOutWhileWrappingAndGrowing) {
  Queue<WideString> queue;
  int next_in = 0, next_out = 0;
  // Interleave pushes and pops so the ring wraps before it grows.
  for (int round = 0; round < 50; ++round) {
    for (int i = 0; i < 7; ++i) ASSERT_TRUE(queue.PushBack(Make(next_in++)));
    for (int i = 0; i < 5; ++i) {
      WideString out;
      ASSERT_TRUE(queue.PopFront(out));
      ASSERT_STREQ(std::to_wstring(next_out++).c_str(), out.Get());
    }
  }
  EXPECT_EQ(static_cast<size_t>(next_in - next_out), queue.Size());
  WideString out;
  while (queue.PopFront(out)) ASSERT_STREQ(std::to_wstring(next_out++).c_str(), out.Get());
  EXPECT_EQ(next_in, next_out);
  EXPECT_FALSE(queue.PopFront(out));
}

}  // namespace
