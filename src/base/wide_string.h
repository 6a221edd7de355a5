// The system's wide string: a counted UTF-16 string whose storage comes
// from the process heap. Growth never throws; an operation that needs more
// room and cannot get it returns false and leaves the string as it was.
#pragma once

#include <stddef.h>
#include <wchar.h>

namespace tmn {

class WideString {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  WideString() noexcept = default;
  ~WideString();
  WideString(WideString&& other) noexcept;
  WideString& operator=(WideString&& other) noexcept;
  // Copies can fail, so they are explicit: Assign(other).
  WideString(const WideString&) = delete;
  WideString& operator=(const WideString&) = delete;

  // Never null: an empty string gives L"".
  const wchar_t* Get() const { return text_ != nullptr ? text_ : L""; }
  size_t Length() const { return length_; }
  bool IsEmpty() const { return length_ == 0; }
  wchar_t operator[](size_t i) const { return text_[i]; }
  // Writable characters [0, Length()); for edits that keep the length.
  wchar_t* Data() { return text_; }

  bool Reserve(size_t capacity);
  bool Assign(const wchar_t* text);  // null assigns the empty string
  bool Assign(const wchar_t* text, size_t count);
  bool Assign(const WideString& other) { return Assign(other.Get(), other.Length()); }
  bool Append(const wchar_t* text);
  bool Append(const wchar_t* text, size_t count);
  bool Append(const WideString& other) { return Append(other.Get(), other.Length()); }
  bool Append(wchar_t c) { return Append(&c, 1); }

  void Truncate(size_t length);
  void Erase(size_t position, size_t count = 1);
  void Clear() { Truncate(0); }

  size_t Find(wchar_t c, size_t from = 0) const;
  size_t FindLast(wchar_t c) const;
  bool Equals(const wchar_t* text) const;
  bool EndsWith(wchar_t c) const { return length_ > 0 && text_[length_ - 1] == c; }

 private:
  wchar_t* text_ = nullptr;  // NUL-terminated when not null
  size_t length_ = 0;
  size_t capacity_ = 0;  // characters, without the terminating NUL
};

// Length of a NUL-terminated text, 0 for null.
size_t TextLength(const wchar_t* text);

}  // namespace tmn
