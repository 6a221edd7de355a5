// Where a path leads: whether it names one place whatever the current
// drive and folder, and whether a name is one plain entry name. The cleanup
// acts only on paths and names that pass these checks, since its folders
// and file names come from a file the product's users may write.
#pragma once

#include <windows.h>

#include "base/wide_string.h"

namespace tmn {

// Windows takes either slash between the names of a path.
inline bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Whether text holds "*" or "?": a pattern names no one entry.
bool HasWildcard(const wchar_t* text, size_t length);

// "X:\..." (either slash), "\\server\share...", or their "\\?\" forms. An
// empty path, a relative one, one rooted at the current drive ("\x"), a
// drive-relative one ("C:x") and a device path ("\\.\...") are not.
bool IsFullyQualifiedPath(const wchar_t* path);

// The full path Windows acts on for path (GetFullPathNameW), whatever its
// length. On failure out is left as it was.
HRESULT GetFullPath(const wchar_t* path, WideString* out);

// The name Windows' own layer gives the first length characters of a full
// path: "\??\C:\..." for "C:\..." and "\\?\C:\...", "\??\UNC\server\..." for
// "\\server\...".
bool NtPathOf(const wchar_t* path, size_t length, WideString* out);

// Whether the length characters of name make one plain entry name: not
// empty, and no character Windows reads as a stream, a drive or a search
// pattern.
bool IsPlainName(const wchar_t* name, size_t length);

}  // namespace tmn
