// The configuration file as the bytes it holds: its sections read, and the
// two ledger sections rewritten, with every other byte left as it was, so
// that the product's own profile reads find what they found before. Plain
// functions over a buffer, which they never read past: files as a user can
// save them (UTF-16LE after FF FE, UTF-8 after EF BB BF, else the ANSI code
// page), lines ended by LF or CR LF or by nothing at the end, NULs inside.
//
// Lines are read as the profile functions read them: blanks and tabs
// around a line and around its "=" do not count; a line that begins with
// "[" and holds "]" starts a section, named by what lies between, letter
// case aside; lines that are empty or begin with ";" hold nothing.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/array.h"
#include "base/unique.h"
#include "base/wide_string.h"

namespace tmn {

enum class TextEncoding : uint8_t { kAnsi, kUtf8, kUtf16 };

struct ProfileText {
  const BYTE* bytes;
  size_t size;
  TextEncoding encoding;
  size_t begin;  // the first byte after the mark
};

ProfileText ReadProfileText(const BYTE* bytes, size_t size);

struct LedgerEntry {
  int32_t id = 0;  // the key's number; no digits give 0
  WideString value;
  size_t lineAt = 0, lineEnd = 0;  // the bytes of its line, its end included
  bool gone = false;               // dropped from the ledger
};

enum class SectionRead {
  kNothing,  // no such section: the list is unchanged
  kWhole,    // every line was read
  kPartial,  // not read to its end: rewriting it would drop lines
};

// The longest section read, in characters (bytes for a file in bytes).
constexpr size_t kLongestSection = 0xFFFE;

// Appends the "key=value" entries of section whose key and value are both
// not empty, keys read as numbers by the C library's rules (a sign, then
// digits up to the first other character). A line without "=", a second section of the name, a section
// longer than kLongestSection, and a line memory cannot hold each leave it
// kPartial, with what came before in list.
SectionRead ParseSection(const ProfileText& text, const wchar_t* section, Array<LedgerEntry>& list);

// The value of the first key of that name in the first section of that
// name. False when there is none.
bool FindProfileValue(const ProfileText& text, const wchar_t* section, const wchar_t* key, WideString* value);

// The text without the lines of the entries of downloads and results that
// are gone, read from the sections of those names; a section whose entries
// are all gone (one at least) goes whole, its head and the lines that held
// nothing too. Every other byte stays as it was. *size receives the bytes; an
// empty block when memory runs out.
UniqueHeapBlock RewriteSections(const ProfileText& text, const wchar_t* downloadsSection,
                                const Array<LedgerEntry>& downloads, const wchar_t* resultsSection,
                                const Array<LedgerEntry>& results, size_t* size);

}  // namespace tmn
