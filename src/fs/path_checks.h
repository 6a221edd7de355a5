// Where a path leads: whether it names one place whatever the current
// drive and folder, and whether it stays inside a given folder. The cleanup
// acts only on paths that pass these checks, since its folders and file
// names come from a file the product's users may write.
#pragma once

#include <windows.h>

#include "base/wide_string.h"

namespace tmn {

// "X:\..." (either slash), "\\server\share...", or their "\\?\" forms. An
// empty path, a relative one, one rooted at the current drive ("\x"), a
// drive-relative one ("C:x") and a device path ("\\.\...") are not.
bool IsFullyQualifiedPath(const wchar_t* path);

// The full path Windows acts on for path (GetFullPathNameW), whatever its
// length. On failure out is left as it was.
HRESULT GetFullPath(const wchar_t* path, WideString* out);

enum class Placement { kOutside, kSame, kBelow };

// Where path lies against folder, by their full paths compared without
// letter case and without trailing separators. A path that cannot be
// resolved lies outside.
Placement PlaceOf(const wchar_t* path, const wchar_t* folder);

// Whether path is folder itself or lies below it: full paths compared
// without letter case and without trailing separators.
bool IsSameOrBelowFolder(const wchar_t* path, const wchar_t* folder);

// Whether name, joined to the fully qualified folder, names something
// strictly below it: no drive, root, UNC, stream, wildcard or device name,
// and no ".." that climbs out.
bool IsNameBelowFolder(const wchar_t* folder, const wchar_t* name);

}  // namespace tmn
