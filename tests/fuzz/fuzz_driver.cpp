// The fuzz driver. Each target of the table (fuzz_targets.cpp) gets its
// corpus, every cut of each corpus input within its header and every
// length field set to 0, 1, its largest value and one more, then seeded
// mutations: bit flips, bytes set to edge values, length fields, cuts,
// splices of two inputs, runs of bytes put in or taken out. Each input runs
// twice: ending right at a no-access page, then starting right after one,
// so that a read past either end faults. A fault ends the run at once, and
// the input is kept, as is one that breaks an invariant (the run ends then
// too), in KEEP/<corpus>/<target>-<machine>-<seed>-<n>.hex.
//
//   fuzz_parsers CORPUS KEEP --target NAME (--inputs N | --seconds S) [--seed S]
//   fuzz_parsers --list
// Exit: 0 clean, 1 usage or corpus, 2 an invariant broke, 3 a read or write
// beyond an input, 4 another fault.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_targets.h"

namespace tmfuzz {

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kLongestInput = 80 * 1024;
const char* const kMachine = sizeof(void*) == 8 ? "amd64" : "x86";

// Committed pages between two no-access ones: 0 holds the input, 1 and 2
// what targets place with Guarded().
struct Region {
  uint8_t* low;
  size_t bytes;
};
Region g_regions[3];
size_t g_page;
bool g_atEnd = true;
size_t g_accepted;  // inputs the parser took

// What a fault report names.
const Target* g_target;
const Bytes* g_input;
std::wstring g_keep;
unsigned long long g_seed;
size_t g_index;

Region MakeRegion(size_t bytes) {
  const size_t committed = (bytes + g_page - 1) / g_page * g_page;
  auto* base =
      static_cast<uint8_t*>(VirtualAlloc(nullptr, committed + 2 * g_page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD old = 0;
  if (base == nullptr || !VirtualProtect(base, g_page, PAGE_NOACCESS, &old) ||
      !VirtualProtect(base + g_page + committed, g_page, PAGE_NOACCESS, &old)) {
    fprintf(stderr, "fuzz: cannot make guarded pages\n");
    exit(1);
  }
  return {base + g_page, committed};
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

const char* CorpusName(const Target& target) { return target.corpus != nullptr ? target.corpus : target.name; }

std::wstring Keep(const char* why) {
  const std::wstring folder = g_keep + L"\\" + Widen(CorpusName(*g_target));
  for (size_t at = 1; at != std::wstring::npos; at = folder.find_first_of(L"\\/", at + 1))
    CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring path = folder + L"\\" + Widen(g_target->name) + L"-" + Widen(kMachine) + L"-" +
                            std::to_wstring(g_seed) + L"-" + std::to_wstring(g_index) + L".hex";
  FILE* file = _wfopen(path.c_str(), L"w");
  if (file == nullptr) return L"(could not be kept)";
  fprintf(file, "# %s: %s\n# %s, seed %llu, input %zu\n", g_target->name, why, kMachine, g_seed, g_index);
  for (size_t i = 0; i < g_input->size(); ++i) fprintf(file, "%02x%s", (*g_input)[i], i % 32 == 31 ? "\n" : " ");
  fprintf(file, "\n");
  fclose(file);
  return path;
}

[[noreturn]] void EndWith(int code, const char* why) {
  const std::wstring kept = Keep(why);
  fprintf(stderr, "fuzz: %s (%s): %s, input #%zu (%zu bytes) at a page's %s; kept in %ls\n", g_target->name, kMachine,
          why, g_index, g_input->size(), g_atEnd ? "end" : "start", kept.c_str());
  fflush(stderr);
  TerminateProcess(GetCurrentProcess(), code);
  exit(code);
}

// Seen before any handler of the code under test could swallow it.
LONG CALLBACK OnAccessViolation(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD& record = *info->ExceptionRecord;
  if (record.ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record.NumberParameters < 2 || g_target == nullptr)
    return EXCEPTION_CONTINUE_SEARCH;
  const auto* address = reinterpret_cast<const uint8_t*>(record.ExceptionInformation[1]);
  for (const Region& region : g_regions) {
    const bool before = address >= region.low - g_page && address < region.low;
    if (!before && (address < region.low + region.bytes || address >= region.low + region.bytes + g_page)) continue;
    static char why[80];
    snprintf(why, sizeof(why), "%s %s %s", record.ExceptionInformation[0] == 1 ? "a write" : "a read",
             before ? "before the start of" : "past the end of",
             &region == g_regions ? "the input" : "a buffer it placed");
    EndWith(3, why);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI OnOtherFault(EXCEPTION_POINTERS* info) {
  static char why[64];
  snprintf(why, sizeof(why), "fault 0x%08lx", static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode));
  EndWith(4, why);
}

// Hex bytes; "text" as its UTF-8 bytes and u"text" as UTF-16LE (a
// backslash keeps the next character, \0 \r \n aside); any of them followed
// by *N repeated N times; # to the line's end is a comment.
bool ParseCorpusText(const std::string& text, Bytes* out) {
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if (c == '#') {
      i = text.find('\n', i);
      if (i == std::string::npos) break;
      continue;
    }
    Bytes token;
    const bool wide = c == 'u' && i + 1 < text.size() && text[i + 1] == '"';
    if (c == '"' || wide) {
      std::string utf8;
      for (i += wide ? 2 : 1; i < text.size() && text[i] != '"'; ++i) {
        const char e = text[i] == '\\' && i + 1 < text.size() ? text[++i] : '\0';
        utf8 += e == '\0' ? text[i] : e == '0' ? '\0' : e == 'r' ? '\r' : e == 'n' ? '\n' : e;
      }
      if (i++ >= text.size()) return false;
      std::wstring units(utf8.size(), L'\0');
      if (wide && !utf8.empty())
        units.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &units[0],
                                         static_cast<int>(units.size())));
      if (!wide) token.assign(utf8.begin(), utf8.end());
      for (size_t n = 0; wide && n < units.size(); ++n)
        token.insert(token.end(), {static_cast<uint8_t>(units[n]), static_cast<uint8_t>(units[n] >> 8)});
    } else {
      size_t end = i;
      while (end < text.size() && isxdigit(static_cast<unsigned char>(text[end]))) ++end;
      if (end == i || (end - i) % 2 != 0) return false;
      for (; i < end; i += 2) token.push_back(static_cast<uint8_t>(strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
    }
    size_t times = 1;
    if (i < text.size() && text[i] == '*') {
      char* end = nullptr;
      times = strtoul(text.c_str() + i + 1, &end, 10);
      i = end - text.c_str();
    }
    if (i < text.size() && !isspace(static_cast<unsigned char>(text[i]))) return false;
    for (size_t n = 0; n < times && out->size() < kLongestInput; ++n)
      out->insert(out->end(), token.begin(), token.end());
  }
  return true;
}

std::vector<Bytes> LoadCorpus(const std::wstring& root, const Target& target) {
  if (target.probe) return {Bytes{}};
  const std::wstring folder = root + L"\\" + Widen(CorpusName(target));
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\*.hex").c_str(), &found);
  for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found))
    names.push_back(found.cFileName);
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  std::sort(names.begin(), names.end());
  std::vector<Bytes> corpus;
  for (const std::wstring& name : names) {
    std::string text;
    FILE* file = _wfopen((folder + L"\\" + name).c_str(), L"rb");
    for (int c; file != nullptr && (c = fgetc(file)) != EOF;) text += static_cast<char>(c);
    if (file != nullptr) fclose(file);
    Bytes bytes;
    if (file == nullptr || !ParseCorpusText(text, &bytes)) {
      fprintf(stderr, "fuzz: %s: cannot read %ls\n", target.name, name.c_str());
      exit(1);
    }
    corpus.push_back(bytes);
  }
  if (corpus.empty()) {
    fprintf(stderr, "fuzz: %s: no corpus in %ls\n", target.name, folder.c_str());
    exit(1);
  }
  return corpus;
}

struct Random {
  uint64_t state;
  uint64_t Next() {  // splitmix64
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }
};

void SetField(Bytes& input, const LengthField& field, uint64_t value) {
  for (size_t b = 0; b < field.width && field.offset + b < input.size(); ++b)
    input[field.offset + b] = static_cast<uint8_t>(value >> (8 * b));
}

std::vector<uint64_t> FieldValues(const LengthField& field, size_t count) {
  const uint64_t largest = field.largest == kInputBytes ? count : field.largest;
  return {0, 1, largest, largest + 1, 0x10000};
}

Bytes Mutate(const Target& target, const std::vector<Bytes>& corpus, Random& random) {
  Bytes input = corpus[random.Below(corpus.size())];
  static const uint8_t kEdges[] = {0x00, 0x01, 0x20, 0x2e, 0x30, 0x39, 0x3a, 0x5c, 0x7f, 0x80, 0xfe, 0xff};
  for (size_t rounds = 1 + random.Below(3); rounds > 0; --rounds) {
    const size_t at = random.Below(input.size() + 1);
    switch (random.Below(6)) {
      case 0:
        if (at < input.size()) input[at] ^= static_cast<uint8_t>(1u << random.Below(8));
        break;
      case 1:
        if (at < input.size()) input[at] = kEdges[random.Below(sizeof(kEdges))];
        break;
      case 2:
        if (!target.lengths.empty()) {
          const LengthField& field = target.lengths[random.Below(target.lengths.size())];
          const std::vector<uint64_t> values = FieldValues(field, input.size());
          SetField(input, field, random.Below(4) == 0 ? random.Next() : values[random.Below(values.size())]);
        }
        break;
      case 3:
        input.resize(random.Below(2) == 0 ? random.Below(std::min(input.size(), target.headerBytes) + 1) : at);
        break;
      case 4: {
        const Bytes& other = corpus[random.Below(corpus.size())];
        input.resize(at);
        input.insert(input.end(), other.begin() + random.Below(other.size() + 1), other.end());
        break;
      }
      default:
        if (random.Below(2) == 0)
          input.insert(input.begin() + at, 1 + random.Below(16), static_cast<uint8_t>(random.Next()));
        else
          input.erase(input.begin() + at, input.begin() + std::min(input.size(), at + 1 + random.Below(16)));
    }
  }
  if (input.size() > kLongestInput) input.resize(kLongestInput);
  return input;
}

// The corpus, its cuts and length fields, then mutations: the index-th input.
class Inputs {
 public:
  Inputs(const Target& target, std::vector<Bytes> corpus, uint64_t seed)
      : target_(target), corpus_(std::move(corpus)), random_{seed} {
    for (const Bytes& input : corpus_) {
      fixed_.push_back(input);
      for (size_t cut = 0; cut < std::min(input.size(), target.headerBytes); ++cut)
        fixed_.emplace_back(input.begin(), input.begin() + cut);
      for (const LengthField& field : target.lengths)
        for (uint64_t value : FieldValues(field, input.size())) {
          fixed_.push_back(input);
          SetField(fixed_.back(), field, value);
        }
    }
  }
  Bytes Next(size_t index) { return index < fixed_.size() ? fixed_[index] : Mutate(target_, corpus_, random_); }

 private:
  const Target& target_;
  std::vector<Bytes> corpus_;
  std::vector<Bytes> fixed_;
  Random random_;
};

int Usage() {
  fprintf(stderr,
          "usage: fuzz_parsers CORPUS KEEP --target NAME (--inputs N | --seconds S) [--seed S]\n"
          "       fuzz_parsers --list\n");
  return 1;
}

}  // namespace

}  // namespace tmfuzz

void tmfuzz::Accepted() { g_accepted += g_atEnd ? 1 : 0; }

uint8_t* tmfuzz::Guarded(int slot, const void* bytes, size_t count) {
  const Region& region = g_regions[slot];
  uint8_t* at = g_atEnd ? region.low + region.bytes - count : region.low;
  if (count > 0) memmove(at, bytes, count);
  return at;
}

int wmain(int argc, wchar_t** argv) {
  using namespace tmfuzz;
  if (argc == 2 && wcscmp(argv[1], L"--list") == 0) {
    for (const Target& target : kTargets)
      if (!target.probe) printf("%s\n", target.name);
    return 0;
  }
  if (argc < 5) return Usage();
  const std::wstring corpusRoot = argv[1];
  g_keep = argv[2];
  unsigned long long inputs = 0, seconds = 0;
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::wstring option = argv[i];
    if (option == L"--target") {
      for (const Target& target : kTargets)
        if (Widen(target.name) == argv[i + 1]) g_target = &target;
    } else if (option == L"--inputs" || option == L"--seconds" || option == L"--seed") {
      (option == L"--inputs" ? inputs : option == L"--seconds" ? seconds : g_seed) = wcstoull(argv[i + 1], nullptr, 10);
    } else {
      return Usage();
    }
  }
  if (g_target == nullptr || (inputs == 0) == (seconds == 0)) return Usage();
  const Target& target = *g_target;
  g_target = nullptr;  // until the guarded pages hold an input

  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  g_page = system.dwPageSize;
  for (Region& region : g_regions) region = MakeRegion(kLongestInput);
  AddVectoredExceptionHandler(1, OnAccessViolation);
  SetUnhandledExceptionFilter(OnOtherFault);

  uint64_t seed = g_seed;
  for (const char* c = target.name; *c != '\0'; ++c) seed = seed * 131 + static_cast<unsigned char>(*c);
  Inputs source(target, LoadCorpus(corpusRoot, target), seed);
  const DWORD start = GetTickCount();
  Bytes input;
  g_input = &input;
  for (g_index = 0; inputs > 0 ? g_index < inputs : GetTickCount() - start < seconds * 1000; ++g_index) {
    input = source.Next(g_index);
    g_target = &target;
    for (bool atEnd : {true, false}) {
      g_atEnd = atEnd;
      const std::string broken = target.run(Guarded(0, input.data(), input.size()), input.size());
      if (!broken.empty()) EndWith(2, broken.c_str());
    }
  }
  printf("fuzz: %s (%s): %zu inputs (%zu taken), each at a page's end and at its start, in %.1f s: clean (seed %llu)\n",
         target.name, kMachine, g_index, g_accepted, (GetTickCount() - start) / 1000.0, g_seed);
  return 0;
}
