#include "plugin/frame.h"

#include <atomic>

#include "base/heap.h"
#include "base/result.h"
#include "base/unique.h"
#include "base/windows_version.h"

namespace tmn {

PluginContext g_pluginContext = {0, nullptr, nullptr};

namespace {

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

}  // namespace

void StoreContext(int string_size, char* variables, stack_t** stacktop) {
  g_pluginContext.string_size = string_size;
  g_pluginContext.variables = variables;
  g_pluginContext.stacktop = stacktop;
}

bool PopArgument(ArgumentBuffer& argument) {
  argument[0] = '\0';
  stack_t** stacktop = g_pluginContext.stacktop;
  if (stacktop == nullptr || *stacktop == nullptr) return true;
  stack_t* node = *stacktop;
  // The node's text is string_size bytes and may lack its NUL; read no
  // further than that, and keep room for our own NUL.
  const size_t nodeText = g_pluginContext.string_size > 0 ? static_cast<size_t>(g_pluginContext.string_size) : 0;
  const size_t limit = nodeText < kArgumentBufferSize - 1 ? nodeText : kArgumentBufferSize - 1;
  size_t n = 0;
  while (n < limit && node->text[n] != '\0') {
    argument[n] = node->text[n];
    ++n;
  }
  argument[n] = '\0';
  const bool whole = n < limit || (n < nodeText && node->text[n] == '\0');
  *stacktop = node->next;
  UniqueGlobal popped(node);  // the node was the stack's; popping makes it ours to free
  return whole;
}

bool PushResult(const char* text) {
  stack_t** stacktop = g_pluginContext.stacktop;
  const int size = g_pluginContext.string_size;
  if (stacktop == nullptr || size <= 0) return false;
  auto* node = static_cast<stack_t*>(::GlobalAlloc(GPTR, static_cast<SIZE_T>(size) + 8));
  if (node == nullptr) return false;
  // The zero fill terminates the text inside its slot.
  for (int i = 0; i < size - 1 && text[i] != '\0'; ++i) node->text[i] = text[i];
  node->next = *stacktop;
  *stacktop = node;
  return true;
}

void WriteVariable(int index, const char* text) {
  const int size = g_pluginContext.string_size;
  if (g_pluginContext.variables == nullptr || size <= 0 || index < 0) return;
  char* slot = g_pluginContext.variables + static_cast<size_t>(index) * static_cast<size_t>(size);
  int i = 0;
  for (; i < size - 1 && text[i] != '\0'; ++i) slot[i] = text[i];
  slot[i] = '\0';
}

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

bool PopWideArgument(WideString* argument, LongText longText) {
  ArgumentBuffer text;
  const bool whole = PopArgument(text);
  if (!whole && longText == LongText::kRefuse) return false;
  return SUCCEEDED(AnsiToWide(text, argument));
}

}  // namespace tmn
