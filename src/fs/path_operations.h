// Joining and cutting Windows paths, and making a chain of folders.
#pragma once

#include <windows.h>

#include "base/wide_string.h"

namespace tmn {

// Joins more to base with exactly one backslash between them. Returns 0,
// base unchanged, when more is null or memory runs out; a more made only of
// backslashes leaves base unchanged and returns 1.
int AppendPath(WideString& base, const wchar_t* more);

// folder, a backslash unless folder already ends in one (or a slash), and
// the first length characters of name: the one way a name joins a folder.
bool JoinName(const WideString& folder, const wchar_t* name, size_t length, WideString* out);
bool JoinName(const WideString& folder, const wchar_t* name, WideString* out);

// Removes trailing backslashes and slashes, keeping the one that makes a
// drive's root ("C:\") or the whole path ("\").
void TrimTrailingSeparators(WideString& path);

// Removes the last component; 1 when the path was shortened, 0 when it has
// no parent (empty, a bare drive, a drive root).
int StripLastComponent(WideString& path);

// The position after a "\\?\", "\\?\UNC\" or plain UNC "\\" prefix.
const wchar_t* SkipPathPrefix(const wchar_t* path);
bool IsUncPath(const wchar_t* path);

// Whether a path names a whole volume or share, never a folder on it:
// C: and C:\ , \ , \\server\share, \\?\C:\ , \\?\UNC\server\share,
// \\?\Volume{...}\ , \??\C:\ , any path below \\?\GLOBALROOT (where its
// volume ends cannot be told), also with forward slashes, trailing separators, or
// "." and ".." names that lead back up to the root. The empty path counts
// as a root: it resolves to the current drive's.
bool NamesVolumeOrShareRoot(const wchar_t* path);
// The same for the path and for its full form from the current folder.
bool ResolvesToVolumeOrShareRoot(const WideString& path);

// Makes the folder and every missing folder above it. S_FALSE when all
// existed, S_OK when at least one was made, a failure when one could not
// be made. A file standing where a folder belongs is deleted.
HRESULT CreateFolderChain(const WideString& path);

}  // namespace tmn
