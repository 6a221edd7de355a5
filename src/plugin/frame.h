// The call frame shared by every export: the installer's string stack and
// variables, the per-call context, and the argument handed to the workers.
//
// One source, two hosts: an ANSI installer hands over char texts, a Unicode
// installer (makensis's default) WCHAR texts. TM_HOST_UNICODE selects the
// Unicode host; in either, string_size counts characters of the host's type.
#pragma once

#include <windows.h>

#include "base/wide_string.h"

namespace tmn {

#ifdef TM_HOST_UNICODE
using HostChar = wchar_t;
#else
using HostChar = char;
#endif

}  // namespace tmn

// The installer's stack node, laid out by the host: the next node, then
// string_size characters of text.
struct stack_t {
  stack_t* next;
  tmn::HostChar text[1];
};

// What the host hands every export last. Nothing here calls it; the layout
// is the host's.
struct exec_flags_t;
enum NSPIM { NSPIM_UNLOAD, NSPIM_GUIUNLOAD };
using NsisPluginCallback = UINT_PTR(__cdecl*)(NSPIM message);
struct extra_parameters {
  exec_flags_t* exec_flags;
  int(__stdcall* ExecuteCodeSegment)(int position, HWND parent);
  void(__stdcall* validate_filename)(tmn::HostChar* file);
  int(__stdcall* RegisterPluginCallback)(HMODULE module, NsisPluginCallback callback);
};

namespace tmn {

// The host's variables, in the order of its array.
enum HostVariable : int {
  kVar0, kVar1, kVar2, kVar3, kVar4, kVar5, kVar6, kVar7, kVar8, kVar9,
  kVarR0, kVarR1, kVarR2, kVarR3, kVarR4, kVarR5, kVarR6, kVarR7, kVarR8, kVarR9,
  kVarCmdLine, kVarInstDir, kVarOutDir, kVarExeDir, kVarLanguage,
  kHostVariableCount
};

struct PluginContext {
  int string_size;
  HostChar* variables;
  stack_t** stacktop;
};

// Stored by every export as its first step; the same call's push or
// variable write reads it. Process-wide, unguarded: the host calls one
// export at a time on its own thread.
extern PluginContext g_pluginContext;

// One call's argument: at most 199 characters and the NUL.
constexpr size_t kArgumentBufferSize = 200;
using ArgumentBuffer = HostChar[kArgumentBufferSize];

void StoreContext(int string_size, HostChar* variables, stack_t** stacktop);

// Moves the top node's text into the buffer and frees the node. With no
// node the buffer holds the empty text. A text longer than 199 characters
// is cut to 199 (one less where the cut would split a surrogate pair); the
// result is false when the text was cut.
bool PopArgument(ArgumentBuffer& argument);

// Pushes a new node holding the text; false when nothing was pushed (no
// stack, or no memory for the node).
bool PushResult(const HostChar* text);

// Copies the text into a variable slot, cut to fit the slot. An index
// outside the host's variables writes nothing.
void WriteVariable(HostVariable index, const HostChar* text);

// Pushes a text of ASCII characters in the host's type.
bool PushAsciiResult(const wchar_t* text);

#ifndef TM_HOST_UNICODE
// Room for texts converted without a heap block, the NUL included.
constexpr size_t kConversionInlineChars = 128;

// Converts with ConversionCodePage. On failure out is left as it was and
// the result says why.
HRESULT AnsiToWide(const char* text, WideString* out);

UINT ConversionCodePage();
#endif

// Whether a text longer than the argument buffer may reach the worker cut
// to its first 199 characters, or not at all.
enum class LongText { kCut, kRefuse };

// Pops one text as a wide string: what every export that takes a text does
// before its worker runs. False when the worker must not run: the text
// could not be converted, or it was too long and long texts are refused.
bool PopWideArgument(WideString* argument, LongText longText = LongText::kCut);

// An export of the plug-in, named as the script calls it, and the function
// that does its work, written out right after the macro. Every call stores
// its frame first, as NSIS's own plug-ins do.
#define PLUGIN_EXPORT(name, body)                                                                \
  static void body();                                                                            \
  extern "C" void __cdecl name(HWND /*parent*/, int string_size, ::tmn::HostChar* variables,     \
                               stack_t** stacktop, extra_parameters* /*extra*/) {                \
    ::tmn::StoreContext(string_size, variables, stacktop);                                       \
    body();                                                                                      \
  }

}  // namespace tmn
