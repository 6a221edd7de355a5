#include "plugin/frame.h"

#include <atomic>

#include "base/heap.h"
#include "base/result.h"
#include "base/unique.h"
#include "base/windows_version.h"

namespace tmn {

PluginContext g_pluginContext = {0, nullptr, nullptr};

namespace {

// How many of the first n characters a cut keeps: a Unicode host's text
// never ends in the first half of a surrogate pair.
size_t WholeCharacters(const HostChar* text, size_t n) {
#ifdef TM_HOST_UNICODE
  if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) return n - 1;
#else
  (void)text;
#endif
  return n;
}

// Copies at most room - 1 characters and the NUL; a longer text is cut
// between whole characters.
void CopyCut(HostChar* to, const HostChar* text, size_t room) {
  size_t n = 0;
  while (n + 1 < room && text[n] != 0) {
    to[n] = text[n];
    ++n;
  }
  if (text[n] != 0) n = WholeCharacters(to, n);
  to[n] = 0;
}

// An ASCII text in the host's characters, cut to fit out.
template <size_t N>
void ToHostText(const wchar_t* text, HostChar (&out)[N]) {
  size_t n = 0;
  for (; n + 1 < N && text[n] != L'\0'; ++n) out[n] = static_cast<HostChar>(text[n]);
  out[n] = 0;
}

#ifndef TM_HOST_UNICODE
// 0 until the first conversion decides; never 0 afterwards.
std::atomic<UINT> g_conversionCodePage{0};

UINT DecideConversionCodePage() {
  OSVERSIONINFOEXA version;
  if (ReadWindowsVersionAnsi(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
      version.dwMajorVersion >= 5) {
    return CP_THREAD_ACP;
  }
  char digits[7] = {};
  UINT codePage = 0;
  if (::GetLocaleInfoA(::GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, digits, sizeof(digits)) != 0) {
    for (const char* c = digits; *c >= '0' && *c <= '9'; ++c) codePage = codePage * 10 + (*c - '0');
  }
  return codePage != 0 ? codePage : ::GetACP();
}

// Conversion output: inline room for short texts, a heap block beyond it.
class ConversionBuffer {
 public:
  ~ConversionBuffer() { HeapRelease(heap_); }
  wchar_t* Reserve(size_t chars) {
    if (chars <= kConversionInlineChars) return inline_;
    size_t bytes = 0;
    if (!MultiplyWithoutOverflow(chars, sizeof(wchar_t), &bytes)) return nullptr;
    void* grown = heap_ == nullptr ? HeapAllocateZeroed(bytes)
                                   : ::HeapReAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, heap_, bytes);
    if (grown == nullptr) return nullptr;
    heap_ = static_cast<wchar_t*>(grown);
    return heap_;
  }

 private:
  wchar_t inline_[kConversionInlineChars];
  wchar_t* heap_ = nullptr;
};
#endif

}  // namespace

void StoreContext(int string_size, HostChar* variables, stack_t** stacktop) {
  g_pluginContext.string_size = string_size;
  g_pluginContext.variables = variables;
  g_pluginContext.stacktop = stacktop;
}

bool PopArgument(ArgumentBuffer& argument) {
  argument[0] = 0;
  stack_t** stacktop = g_pluginContext.stacktop;
  if (stacktop == nullptr || *stacktop == nullptr) return true;
  stack_t* node = *stacktop;
  // The node's text is string_size characters and may lack its NUL; read no
  // further than that, and keep room for our own NUL.
  const size_t nodeText = g_pluginContext.string_size > 0 ? static_cast<size_t>(g_pluginContext.string_size) : 0;
  const size_t limit = nodeText < kArgumentBufferSize - 1 ? nodeText : kArgumentBufferSize - 1;
  size_t n = 0;
  while (n < limit && node->text[n] != 0) {
    argument[n] = node->text[n];
    ++n;
  }
  const bool whole = n < limit || (n < nodeText && node->text[n] == 0);
  if (!whole) n = WholeCharacters(argument, n);
  argument[n] = 0;
  *stacktop = node->next;
  UniqueGlobal popped(node);  // the node was the stack's; popping makes it ours to free
  return whole;
}

bool PushResult(const HostChar* text) {
  stack_t** stacktop = g_pluginContext.stacktop;
  const int size = g_pluginContext.string_size;
  if (stacktop == nullptr || size <= 0) return false;
  // As the host allocates its own nodes: the node and string_size characters.
  size_t bytes = 0;
  if (!MultiplyWithoutOverflow(static_cast<size_t>(size), sizeof(HostChar), &bytes) ||
      bytes > static_cast<size_t>(-1) - sizeof(stack_t))
    return false;
  auto* node = static_cast<stack_t*>(::GlobalAlloc(GPTR, sizeof(stack_t) + bytes));
  if (node == nullptr) return false;
  CopyCut(node->text, text, static_cast<size_t>(size));
  node->next = *stacktop;
  *stacktop = node;
  return true;
}

void WriteVariable(HostVariable index, const HostChar* text) {
  const int size = g_pluginContext.string_size;
  if (g_pluginContext.variables == nullptr || size <= 0 || index < 0 || index >= kHostVariableCount) return;
  HostChar* slot = g_pluginContext.variables + static_cast<size_t>(index) * static_cast<size_t>(size);
  CopyCut(slot, text, static_cast<size_t>(size));
}

bool PushAsciiResult(const wchar_t* text) {
  HostChar host[kArgumentBufferSize];
  ToHostText(text, host);
  return PushResult(host);
}

#ifndef TM_HOST_UNICODE

UINT ConversionCodePage() {
  const UINT decided = g_conversionCodePage.load();
  if (decided != 0) return decided;
  UINT expected = 0;
  const UINT mine = DecideConversionCodePage();
  // Two first calls on different threads end with the same answer.
  if (g_conversionCodePage.compare_exchange_strong(expected, mine)) return mine;
  return expected;
}

HRESULT AnsiToWide(const char* text, WideString* out) {
  const UINT codePage = ConversionCodePage();
  size_t bytes = 0;
  while (text[bytes] != '\0') ++bytes;
  const int n = static_cast<int>(bytes + 1);  // the NUL is converted too
  ConversionBuffer buffer;
  wchar_t* wide = buffer.Reserve(static_cast<size_t>(n));
  if (wide == nullptr) return E_OUTOFMEMORY;
  int converted = ::MultiByteToWideChar(codePage, 0, text, n, wide, n);
  if (converted == 0) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return HResultFromLastError();
    const int needed = ::MultiByteToWideChar(codePage, 0, text, n, nullptr, 0);
    if (needed <= 0) return HResultFromLastError();
    wide = buffer.Reserve(static_cast<size_t>(needed));
    if (wide == nullptr) return E_OUTOFMEMORY;
    converted = ::MultiByteToWideChar(codePage, 0, text, n, wide, needed);
    if (converted == 0) return HResultFromLastError();
  }
  // converted counts the NUL; the text may hold none if the code page
  // dropped it, so count up to the converted length only.
  size_t length = 0;
  while (length < static_cast<size_t>(converted) && wide[length] != L'\0') ++length;
  return out->Assign(wide, length) ? S_OK : E_OUTOFMEMORY;
}

#endif

bool PopWideArgument(WideString* argument, LongText longText) {
  ArgumentBuffer text;
  const bool whole = PopArgument(text);
  if (!whole && longText == LongText::kRefuse) return false;
#ifdef TM_HOST_UNICODE
  // The host's text is wide already: copied as it stands.
  return argument->Assign(text, wcslen(text));
#else
  return SUCCEEDED(AnsiToWide(text, argument));
#endif
}

}  // namespace tmn
