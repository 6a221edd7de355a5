// Letter case of ASCII letters only: A to Z are taken as a to z, every other
// character (letters outside ASCII included) stands for itself.
#pragma once

#include <stddef.h>

namespace tmn {

inline wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }
inline wchar_t UpperAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

// Whole texts, equal apart from the case of ASCII letters.
inline bool EqualsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b) {
  for (;; ++a, ++b) {
    if (LowerAscii(*a) != LowerAscii(*b)) return false;
    if (*a == L'\0') return true;
  }
}

// The first count characters of both texts, equal apart from the case of
// ASCII letters; neither text may end before count.
inline bool EqualsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

}  // namespace tmn
