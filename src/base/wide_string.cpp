#include "base/wide_string.h"

#include <string.h>

#include "base/heap.h"

namespace tmn {

size_t TextLength(const wchar_t* text) {
  if (text == nullptr) return 0;
  size_t n = 0;
  while (text[n] != L'\0') ++n;
  return n;
}

WideString::~WideString() { HeapRelease(text_); }

WideString::WideString(WideString&& other) noexcept
    : text_(other.text_), length_(other.length_), capacity_(other.capacity_) {
  other.text_ = nullptr;
  other.length_ = other.capacity_ = 0;
}

WideString& WideString::operator=(WideString&& other) noexcept {
  if (this != &other) {
    HeapRelease(text_);
    text_ = other.text_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    other.text_ = nullptr;
    other.length_ = other.capacity_ = 0;
  }
  return *this;
}

bool WideString::Reserve(size_t capacity) {
  if (text_ != nullptr && capacity <= capacity_) return true;
  size_t bytes = 0;
  if (capacity >= npos / sizeof(wchar_t) || !MultiplyWithoutOverflow(capacity + 1, sizeof(wchar_t), &bytes))
    return false;
  wchar_t* grown = static_cast<wchar_t*>(HeapAllocate(bytes));
  if (grown == nullptr) return false;
  if (text_ != nullptr) memcpy(grown, text_, length_ * sizeof(wchar_t));
  grown[length_] = L'\0';
  HeapRelease(text_);
  text_ = grown;
  capacity_ = capacity;
  return true;
}

bool WideString::Assign(const wchar_t* text) { return Assign(text, TextLength(text)); }

bool WideString::Assign(const wchar_t* text, size_t count) {
  if (text == text_ && text_ != nullptr) {  // assigning a prefix of itself
    Truncate(count);
    return true;
  }
  if (count > capacity_ || text_ == nullptr) {
    WideString fresh;
    if (!fresh.Reserve(count)) return false;
    *this = static_cast<WideString&&>(fresh);
  }
  if (count > 0) memmove(text_, text, count * sizeof(wchar_t));
  length_ = count;
  text_[length_] = L'\0';
  return true;
}

bool WideString::Append(const wchar_t* text) { return Append(text, TextLength(text)); }

bool WideString::Append(const wchar_t* text, size_t count) {
  if (count == 0) return true;
  if (count > npos - length_ - 1) return false;
  const size_t needed = length_ + count;
  if (needed > capacity_ || text_ == nullptr) {
    // The text may lie inside this string's own storage.
    WideString grown;
    size_t capacity = capacity_ * 2;
    if (capacity < needed) capacity = needed;
    if (!grown.Reserve(capacity) && !grown.Reserve(needed)) return false;
    memcpy(grown.text_, Get(), length_ * sizeof(wchar_t));
    memcpy(grown.text_ + length_, text, count * sizeof(wchar_t));
    grown.length_ = needed;
    grown.text_[needed] = L'\0';
    *this = static_cast<WideString&&>(grown);
    return true;
  }
  memmove(text_ + length_, text, count * sizeof(wchar_t));
  length_ = needed;
  text_[length_] = L'\0';
  return true;
}

void WideString::Truncate(size_t length) {
  if (length >= length_) return;
  length_ = length;
  text_[length_] = L'\0';
}

void WideString::Erase(size_t position, size_t count) {
  if (position >= length_) return;
  if (count > length_ - position) count = length_ - position;
  memmove(text_ + position, text_ + position + count,
          (length_ - position - count + 1) * sizeof(wchar_t));
  length_ -= count;
}

size_t WideString::Find(wchar_t c, size_t from) const {
  for (size_t i = from; i < length_; ++i)
    if (text_[i] == c) return i;
  return npos;
}

size_t WideString::FindLast(wchar_t c) const {
  for (size_t i = length_; i > 0; --i)
    if (text_[i - 1] == c) return i - 1;
  return npos;
}

bool WideString::Equals(const wchar_t* text) const {
  const size_t n = TextLength(text);
  return n == length_ && (n == 0 || memcmp(text_, text, n * sizeof(wchar_t)) == 0);
}

}  // namespace tmn
