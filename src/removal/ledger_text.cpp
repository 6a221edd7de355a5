#include "removal/ledger_text.h"

#include <string.h>

#include "base/heap.h"

namespace tmn {

namespace {

size_t Width(const ProfileText& text) { return text.encoding == TextEncoding::kUtf16 ? 2 : 1; }
size_t Units(const ProfileText& text) { return (text.size - text.begin) / Width(text); }
const BYTE* At(const ProfileText& text, size_t unit) { return text.bytes + text.begin + unit * Width(text); }

unsigned Unit(const ProfileText& text, size_t at) {
  const BYTE* p = At(text, at);
  return text.encoding == TextEncoding::kUtf16 ? p[0] | (p[1] << 8) : p[0];
}

bool IsBlank(unsigned c) { return c == ' ' || c == '\t'; }

// One line: where it starts, its characters [begin, end) without blanks at
// either end or its CR, and where the next one starts.
struct Line {
  size_t start, begin, end, next;
};

Line LineAt(const ProfileText& text, size_t start) {
  const size_t units = Units(text);
  Line line{start, start, start, units};
  while (line.end < units && Unit(text, line.end) != '\n') ++line.end;
  if (line.end < units) line.next = line.end + 1;
  while (line.begin < line.end && IsBlank(Unit(text, line.begin))) ++line.begin;
  while (line.end > line.begin && (IsBlank(Unit(text, line.end - 1)) || Unit(text, line.end - 1) == '\r')) --line.end;
  return line;
}

// Whether text[begin, end), blanks at its ends aside, is name, letter case
// aside.
bool NamedAs(const ProfileText& text, size_t begin, size_t end, const wchar_t* name) {
  while (begin < end && IsBlank(Unit(text, begin))) ++begin;
  while (end > begin && IsBlank(Unit(text, end - 1))) --end;
  for (; begin < end && *name != L'\0'; ++begin, ++name) {
    unsigned c = Unit(text, begin), n = static_cast<unsigned>(*name);
    if (c - 'A' < 26) c += 32;
    if (n - 'A' < 26) n += 32;
    if (c != n) return false;
  }
  return begin == end && *name == L'\0';
}

// Whether line heads a section named name: "[", the name, the last "]".
bool Heads(const ProfileText& text, const Line& line, const wchar_t* name) {
  if (line.begin == line.end || Unit(text, line.begin) != '[') return false;
  size_t close = line.end;
  while (close > line.begin + 1 && Unit(text, close - 1) != ']') --close;
  return close > line.begin + 1 && (name == nullptr || NamedAs(text, line.begin + 1, close - 1, name));
}

// The first section of a name: its head line, its lines, and whether
// another section of that name follows.
struct Section {
  size_t head = 0, body = 0, end = 0;
  bool found = false, again = false;
};

Section FindSection(const ProfileText& text, const wchar_t* name) {
  Section section;
  bool open = false;
  for (size_t at = 0; at < Units(text);) {
    const Line line = LineAt(text, at);
    at = line.next;
    if (!Heads(text, line, nullptr)) continue;
    if (open) section.end = line.start;
    open = false;
    if (!Heads(text, line, name)) continue;
    if (section.found) {
      section.again = true;
      break;
    }
    section = Section{line.start, line.next, Units(text), true, false};
    open = true;
  }
  return section;
}

bool Decode(const ProfileText& text, size_t begin, size_t end, WideString* out) {
  const size_t units = end - begin;
  UniqueHeapBlock block(HeapAllocate((units + 1) * sizeof(wchar_t)));
  wchar_t* chars = static_cast<wchar_t*>(block.get());
  if (chars == nullptr) return false;
  size_t count = units;
  if (text.encoding == TextEncoding::kUtf16) {
    memcpy(chars, At(text, begin), units * sizeof(wchar_t));  // little-endian, as Windows runs
  } else if (units > 0) {
    count = static_cast<size_t>(::MultiByteToWideChar(text.encoding == TextEncoding::kUtf8 ? CP_UTF8 : CP_ACP, 0,
                                                      reinterpret_cast<const char*>(At(text, begin)),
                                                      static_cast<int>(units), chars, static_cast<int>(units)));
    if (count == 0) return false;
  }
  return out->Assign(chars, count);
}

// Whether a line holds something (neither empty nor a comment): then the
// end of its key, blanks aside (the line's end when it holds no "="), and
// where its value begins.
bool Entry(const ProfileText& text, const Line& line, size_t* keyEnd, size_t* value) {
  if (line.begin == line.end || Unit(text, line.begin) == ';') return false;
  size_t equals = line.begin;
  while (equals < line.end && Unit(text, equals) != '=') ++equals;
  *keyEnd = equals;
  if (equals == line.end) return true;
  while (*keyEnd > line.begin && IsBlank(Unit(text, *keyEnd - 1))) --*keyEnd;
  *value = equals + 1;
  while (*value < line.end && IsBlank(Unit(text, *value))) ++*value;
  return true;
}

// The key's number as the C library reads one: a sign, then digits up to
// the first other character, the nearest limit beyond the 32-bit range.
int32_t ParseId(const ProfileText& text, size_t at, size_t end) {
  const bool negative = at < end && Unit(text, at) == '-';
  if (at < end && (negative || Unit(text, at) == '+')) ++at;
  const uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
  uint32_t value = 0;
  for (unsigned digit; at < end && (digit = Unit(text, at) - '0') < 10; ++at)
    value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
  return static_cast<int32_t>(negative ? 0u - value : value);
}

struct Sink {
  BYTE* out;
  size_t used;
  void Put(const BYTE* from, const BYTE* to) {
    if (out != nullptr) memcpy(out + used, from, static_cast<size_t>(to - from));
    used += static_cast<size_t>(to - from);
  }
};

void Rewrite(Sink& sink, const ProfileText& text, const Section (&sections)[2],
             const Array<LedgerEntry>* const (&lists)[2]) {
  const BYTE* at = text.bytes;
  const int earlier = sections[0].head <= sections[1].head ? 0 : 1;
  for (int i : {earlier, 1 - earlier}) {
    if (!sections[i].found) continue;
    // Whole only when entries were dropped and none is left: a section
    // that held none stays as it is.
    bool left = false, dropped = false;
    for (const LedgerEntry& entry : *lists[i]) (entry.gone ? dropped : left) = true;
    if (dropped && !left) {
      sink.Put(at, At(text, sections[i].head));
      at = At(text, sections[i].end);
      continue;
    }
    for (const LedgerEntry& entry : *lists[i]) {
      if (!entry.gone) continue;
      sink.Put(at, text.bytes + entry.lineAt);
      at = text.bytes + entry.lineEnd;
    }
  }
  sink.Put(at, text.bytes + text.size);
}

}  // namespace

ProfileText ReadProfileText(const BYTE* bytes, size_t size) {
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return ProfileText{bytes, size, TextEncoding::kUtf16, 2};
  if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
    return ProfileText{bytes, size, TextEncoding::kUtf8, 3};
  return ProfileText{bytes, size, TextEncoding::kAnsi, 0};
}

SectionRead ParseSection(const ProfileText& text, const wchar_t* name, Array<LedgerEntry>& list) {
  const Section section = FindSection(text, name);
  if (!section.found) return SectionRead::kNothing;
  if (section.again || section.end - section.body > kLongestSection) return SectionRead::kPartial;
  for (size_t at = section.body; at < section.end;) {
    const Line line = LineAt(text, at);
    at = line.next;
    size_t keyEnd = 0, value = 0;
    if (!Entry(text, line, &keyEnd, &value)) continue;
    // A line that is no entry: what the product makes of those after it
    // cannot be told, and the section is left as it is.
    if (keyEnd == line.end) return SectionRead::kPartial;
    if (keyEnd == line.begin || value == line.end) continue;
    LedgerEntry entry;
    entry.id = ParseId(text, line.begin, keyEnd);
    entry.lineAt = static_cast<size_t>(At(text, line.start) - text.bytes);
    entry.lineEnd = static_cast<size_t>(At(text, line.next) - text.bytes);
    // A line dropped for want of memory would be lost when the section is
    // written back: the section counts as not read whole.
    if (!Decode(text, value, line.end, &entry.value) || !list.Push(static_cast<LedgerEntry&&>(entry)))
      return SectionRead::kPartial;
  }
  return SectionRead::kWhole;
}

bool FindProfileValue(const ProfileText& text, const wchar_t* name, const wchar_t* key, WideString* value) {
  const Section section = FindSection(text, name);
  for (size_t at = section.body; section.found && at < section.end;) {
    const Line line = LineAt(text, at);
    at = line.next;
    size_t keyEnd = 0, begin = 0;
    if (Entry(text, line, &keyEnd, &begin) && keyEnd < line.end && NamedAs(text, line.begin, keyEnd, key))
      return Decode(text, begin, line.end, value);
  }
  return false;
}

UniqueHeapBlock RewriteSections(const ProfileText& text, const wchar_t* downloadsSection,
                                const Array<LedgerEntry>& downloads, const wchar_t* resultsSection,
                                const Array<LedgerEntry>& results, size_t* size) {
  const Section sections[2] = {FindSection(text, downloadsSection), FindSection(text, resultsSection)};
  const Array<LedgerEntry>* const lists[2] = {&downloads, &results};
  // Measured first, then written into a block of that size.
  Sink measure{nullptr, 0};
  Rewrite(measure, text, sections, lists);
  UniqueHeapBlock block(HeapAllocate(measure.used > 0 ? measure.used : 1));
  if (!block) return block;
  Sink sink{static_cast<BYTE*>(block.get()), 0};
  Rewrite(sink, text, sections, lists);
  *size = sink.used;
  return block;
}

}  // namespace tmn
