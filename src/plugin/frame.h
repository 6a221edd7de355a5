// The call frame shared by every export: the installer's string stack and
// variables, the per-call context, and the ANSI-to-wide conversion.
#pragma once

#include <windows.h>

#include "base/wide_string.h"

// The installer's stack node, laid out by the host: the next node, then
// string_size bytes of text.
struct stack_t {
  stack_t* next;
  char text[1];
};

namespace tmn {

struct PluginContext {
  int string_size;
  char* variables;
  stack_t** stacktop;
};

// Stored by every export as its first step; the same call's push or
// variable write reads it. Process-wide, unguarded: the host calls one
// export at a time on its own thread.
extern PluginContext g_pluginContext;

// One call's argument: at most 199 characters and the NUL.
constexpr size_t kArgumentBufferSize = 200;
using ArgumentBuffer = char[kArgumentBufferSize];

// Room for texts converted without a heap block, the NUL included.
constexpr size_t kConversionInlineChars = 128;

// Slot of $R0 in the host's variable array.
constexpr int kVariableR0 = 10;

void StoreContext(int string_size, char* variables, stack_t** stacktop);

// Moves the top node's text into the buffer and frees the node. With no
// node the buffer holds the empty text. A text longer than 199 characters
// is cut to 199; the result is false when the text was cut.
bool PopArgument(ArgumentBuffer& argument);

// Pushes a new node holding the text; false when nothing was pushed (no
// stack, or no memory for the node).
bool PushResult(const char* text);

// Copies the text into a variable slot, cut to fit the slot.
void WriteVariable(int index, const char* text);

// Converts with ConversionCodePage. On failure out is left as it was and
// the result says why.
HRESULT AnsiToWide(const char* text, WideString* out);

UINT ConversionCodePage();

// Whether a text longer than the argument buffer may reach the worker cut
// to its first 199 characters, or not at all.
enum class LongText { kCut, kRefuse };

// Pops one text and converts it: what every export that takes a text does
// before its worker runs. False when the worker must not run: the text
// could not be converted, or it was too long and long texts are refused.
bool PopWideArgument(WideString* argument, LongText longText = LongText::kCut);

// An export of the plug-in: every call stores its frame first, as NSIS's
// own plug-ins do, and then runs the body that follows the macro.
#define PLUGIN_FUNCTION(name)                                                              \
  static void name##Body();                                                                \
  extern "C" void __cdecl name(HWND /*parent*/, int string_size, char* variables,          \
                               stack_t** stacktop, void* /*extra*/) {                      \
    ::tmn::StoreContext(string_size, variables, stacktop);                                 \
    name##Body();                                                                          \
  }                                                                                        \
  static void name##Body()

}  // namespace tmn
