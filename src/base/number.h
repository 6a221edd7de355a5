// Decimal numbers in and out of text, with the C library's rules but none
// of its locale: parsing as strtol with base 10, formatting as _itoa.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tmn {

template <typename CharT>
bool IsCSpace(CharT c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Leading white space, one optional sign, then digits up to the first other
// character. No digits gives 0; a value outside the signed 32-bit range
// gives the nearest limit.
template <typename CharT>
int32_t ParseDecimalInt32(const CharT* text) {
  if (text == nullptr) return 0;
  while (IsCSpace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = *text == '-';
    ++text;
  }
  const uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
  uint32_t value = 0;
  bool clamped = false;
  for (; *text >= '0' && *text <= '9'; ++text) {
    const uint32_t digit = static_cast<uint32_t>(*text - '0');
    if (clamped || value > (limit - digit) / 10) {
      clamped = true;
      continue;
    }
    value = value * 10 + digit;
  }
  if (clamped) value = limit;
  return negative ? static_cast<int32_t>(0u - value) : static_cast<int32_t>(value);
}

// Signed decimal text of a 64-bit value; at most 20 characters and the NUL.
template <typename CharT>
void FormatInt64(int64_t value, CharT (&out)[21]) {
  CharT digits[20];
  size_t n = 0;
  uint64_t magnitude = value < 0 ? 0u - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[n++] = static_cast<CharT>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  size_t at = 0;
  if (value < 0) out[at++] = '-';
  while (n > 0) out[at++] = digits[--n];
  out[at] = '\0';
}

// Signed decimal text of a 32-bit value; at most 11 characters and the NUL.
template <typename CharT>
void FormatInt32(int32_t value, CharT (&out)[12]) {
  CharT wide[21];
  FormatInt64(value, wide);
  size_t at = 0;
  do {
    out[at] = wide[at];
  } while (wide[at++] != '\0');
}

}  // namespace tmn
