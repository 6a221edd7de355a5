// The product's registry keys under HKEY_LOCAL_MACHINE, and every read of
// its "Install Path" value. The product is a 32-bit program: its keys live
// in the 32-bit view of the registry, which a 64-bit installer must name.
// Each reader takes the value by its own rule: the settings take any type
// as stored, the identity only a text that ends within its buffer, the
// library search only a REG_SZ text of a few characters at least.
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

// The install folder as the identity keeps it: the stored text when the
// read succeeds and the text ends within the buffer, else empty.
void ReadInstallPathText(wchar_t (&out)[kInstallPathChars]);

// The same from the read's status and the buffer it filled.
void InstallPathTextOfValue(LONG status, const wchar_t (&text)[kInstallPathChars],
                            wchar_t (&out)[kInstallPathChars]);

// The install folder as the info-collection library search reads it,
// ending in a backslash: a REG_SZ value of at least 6 bytes whose text is
// not empty. On false out is left as it was.
bool ReadInstallFolder(WideString* out);
// Two characters short of the buffer, so the text always ends within it.
constexpr DWORD kLibrarySearchOfferedBytes = (kInstallPathChars - 2) * sizeof(wchar_t);  // 516
// The same from what a read that offered kLibrarySearchOfferedBytes of the
// zero-filled text delivered.
bool InstallFolderOfValue(LONG status, DWORD type, DWORD bytes, const wchar_t (&text)[kInstallPathChars],
                          WideString* out);

}  // namespace tmn
