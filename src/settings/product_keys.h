// The product's registry keys under HKEY_LOCAL_MACHINE, and the one read
// of its "Install Path" value that the settings, the identity, the version
// search and the library search all use. The product is a 32-bit program:
// its keys live in the 32-bit view of the registry, which a 64-bit
// installer must name.
#pragma once

#include <windows.h>

#include "base/unique.h"
#include "base/wide_string.h"

namespace tmn {

constexpr wchar_t kProductKey[] = L"SOFTWARE\\Vardo";
constexpr wchar_t kCoopKey[] = L"SOFTWARE\\Vardo\\Coop";
constexpr wchar_t kInstallPathValue[] = L"Install Path";

// Room for the install folder, the NUL included.
constexpr DWORD kInstallPathChars = MAX_PATH;  // 260

// Opens one of the product's keys (kProductKey, kCoopKey) in the 32-bit
// view, whatever the bitness of this module; the registry's status.
LONG OpenProductKey(const wchar_t* key, REGSAM access, UniqueHkey* opened);

// "Install Path" as the registry delivered it into a zero-filled buffer.
struct InstallPathValue {
  wchar_t text[kInstallPathChars];
  DWORD type;
  DWORD bytes;  // delivered
};

// Reads the value, offering offeredBytes of text (at most all of it); the
// registry's status. A missing key or value leaves text zero.
LONG ReadInstallPathValue(DWORD offeredBytes, InstallPathValue* value);

// The rule for what the value gives: a REG_SZ text, not expanded, up to its
// first NUL, that ends within the buffer (259 characters at most); an empty
// text counts. False for any other value; out is left as it was then.
bool InstallPathOfValue(const InstallPathValue& value, WideString* out);

// The install folder by that rule, as the registry holds it now.
bool ReadInstallPath(WideString* out);

}  // namespace tmn
