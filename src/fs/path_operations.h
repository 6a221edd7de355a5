// Joining and cutting Windows paths.
#pragma once

#include <windows.h>

#include "base/wide_string.h"

namespace tmn {

// Joins more to base with exactly one backslash between them. Returns 0,
// base unchanged, when more is null or memory runs out; a more made only of
// backslashes leaves base unchanged and returns 1.
int AppendPath(WideString& base, const wchar_t* more);

// Removes trailing backslashes and slashes, keeping the one that makes a
// drive's root ("C:\") or the whole path ("\").
void TrimTrailingSeparators(WideString& path);

// Removes the last component; 1 when the path was shortened, 0 when it has
// no parent (empty, a bare drive, a drive root).
int StripLastComponent(WideString& path);

// The position after a "\\?\", "\\?\UNC\" or plain UNC "\\" prefix.
const wchar_t* SkipPathPrefix(const wchar_t* path);
bool IsUncPath(const wchar_t* path);

}  // namespace tmn
