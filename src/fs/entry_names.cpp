#include "fs/entry_names.h"

#include <windows.h>
#include <winternl.h>

#include "fs/nt_calls.h"

namespace tmn {

namespace {

constexpr size_t kLongestCounted = 0x7FFF;  // characters a UNICODE_STRING can count

UNICODE_STRING Counted(const wchar_t* text, size_t length) {
  UNICODE_STRING counted;
  counted.Buffer = const_cast<wchar_t*>(text);
  counted.Length = counted.MaximumLength = static_cast<USHORT>(length * sizeof(wchar_t));
  return counted;
}

// The next component of text[at, length): its start and end.
bool NextComponent(const wchar_t* text, size_t length, size_t* at, size_t* begin, size_t* end) {
  while (*at < length && text[*at] == L'\\') ++*at;
  if (*at == length) return false;
  *begin = *at;
  while (*at < length && text[*at] != L'\\') ++*at;
  *end = *at;
  return true;
}

// Without the trailing dots and blanks Wine may drop, but never empty.
size_t WithoutTrailingDotsAndBlanks(const wchar_t* name, size_t length) {
  size_t trimmed = length;
  while (trimmed > 0 && (name[trimmed - 1] == L'.' || name[trimmed - 1] == L' ')) --trimmed;
  return trimmed > 0 ? trimmed : length;
}

}  // namespace

bool SameEntryName(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
  if (aLength != bLength || aLength > kLongestCounted) return false;
  const UNICODE_STRING first = Counted(a, aLength), second = Counted(b, bLength);
  return CallRtlEqualUnicodeString(&first, &second, TRUE) != FALSE;
}

bool ReportsAs(const wchar_t* reported, size_t reportedLength, const wchar_t* expected, size_t expectedLength,
               bool last) {
  if (SameEntryName(reported, reportedLength, expected, expectedLength)) return true;
  size_t trimmed = expectedLength;
  while (trimmed > 0 && (expected[trimmed - 1] == L'.' || (last && expected[trimmed - 1] == L' '))) --trimmed;
  return trimmed != expectedLength && trimmed > 0 && SameEntryName(reported, reportedLength, expected, trimmed);
}

bool SameReachedName(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
  size_t i = 0, j = 0, aBegin, aEnd, bBegin, bEnd;
  for (;;) {
    const bool moreA = NextComponent(a, aLength, &i, &aBegin, &aEnd);
    const bool moreB = NextComponent(b, bLength, &j, &bBegin, &bEnd);
    if (!moreA || !moreB) return moreA == moreB;
    if (!SameEntryName(a + aBegin, WithoutTrailingDotsAndBlanks(a + aBegin, aEnd - aBegin), b + bBegin,
                       WithoutTrailingDotsAndBlanks(b + bBegin, bEnd - bBegin)))
      return false;
  }
}

bool IsDotOrDotDot(const wchar_t* name, size_t length) {
  return (length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.');
}

}  // namespace tmn
