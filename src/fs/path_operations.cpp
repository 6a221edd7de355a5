#include "fs/path_operations.h"

#include "base/ascii.h"
#include "base/heap.h"
#include "base/result.h"
#include "base/unique.h"

namespace tmn {

namespace {

constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";

bool StartsWithLongPathPrefix(const wchar_t* path) {
  for (int i = 0; i < 4; ++i)
    if (path[i] != kLongPathPrefix[i]) return false;
  return true;
}

// "UNC\" at text, letters in any case.
bool IsUncMarker(const wchar_t* text) {
  return EqualsIgnoringAsciiCase(text, L"UNC", 3) && text[3] == L'\\';
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// How deep below its start a path reaches: "." stays, ".." goes up one
// level (never above the start), any other name goes down one.
size_t DepthOfComponents(const wchar_t* text) {
  size_t depth = 0;
  while (*text != L'\0') {
    while (IsSeparator(*text)) ++text;
    if (*text == L'\0') break;
    const wchar_t* name = text;
    while (*text != L'\0' && !IsSeparator(*text)) ++text;
    const size_t length = static_cast<size_t>(text - name);
    if (length == 1 && name[0] == L'.') continue;
    if (length == 2 && name[0] == L'.' && name[1] == L'.') {
      if (depth > 0) --depth;
      continue;
    }
    ++depth;
  }
  return depth;
}

}  // namespace

bool NamesVolumeOrShareRoot(const wchar_t* path) {
  if (path == nullptr || path[0] == L'\0') return true;
  const wchar_t* rest = path;
  size_t rootDepth = 0;  // names a plain path needs before it is below its volume
  const bool devicePrefix =
      (IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.') && IsSeparator(path[3])) ||
      (path[0] == L'\\' && path[1] == L'?' && path[2] == L'?' && path[3] == L'\\');
  if (devicePrefix || (IsSeparator(path[0]) && IsSeparator(path[1]))) {
    if (devicePrefix) {
      // "\\?\C:", "\\.\Volume{...}", "\??\C:": one name for the volume;
      // "\\?\UNC\server\share": two.
      rest = path + 4;
      rootDepth = 1;
      // Below the object manager's root, where a volume ends cannot be
      // told from the text: every such path counts as a root.
      if (EqualsIgnoringAsciiCase(rest, L"GLOBALROOT", 10) && (rest[10] == L'\0' || IsSeparator(rest[10])))
        return true;
      if (EqualsIgnoringAsciiCase(rest, L"UNC", 3) && IsSeparator(rest[3])) {
        rest += 4;
        rootDepth = 2;
      }
    } else {
      rest = path + 2;  // "\\server\share"
      rootDepth = 2;
    }
  } else if (path[1] == L':') {
    rest = path + 2;  // "C:" and "C:\"
  }
  return DepthOfComponents(rest) <= rootDepth;
}

bool ResolvesToVolumeOrShareRoot(const WideString& path) {
  if (NamesVolumeOrShareRoot(path.Get())) return true;
  // "C:\dir\..", ".", a path relative to a current folder that is a root.
  wchar_t fixed[MAX_PATH];
  DWORD length = ::GetFullPathNameW(path.Get(), MAX_PATH, fixed, nullptr);
  if (length == 0) return false;
  if (length < MAX_PATH) return NamesVolumeOrShareRoot(fixed);
  // Longer than MAX_PATH: length counts the NUL.
  size_t bytes = 0;
  if (!MultiplyWithoutOverflow(length, sizeof(wchar_t), &bytes)) return true;
  UniqueHeapBlock block(HeapAllocate(bytes));
  wchar_t* full = static_cast<wchar_t*>(block.get());
  if (full == nullptr) return true;  // cannot tell: treat it as a root
  const DWORD written = ::GetFullPathNameW(path.Get(), length, full, nullptr);
  if (written == 0 || written >= length) return true;
  return NamesVolumeOrShareRoot(full);
}

int AppendPath(WideString& base, const wchar_t* more) {
  if (more == nullptr) return 0;
  while (*more == L'\\') ++more;
  if (*more == L'\0') return 1;
  WideString joined;
  if (!joined.Assign(base)) return 0;
  while (joined.EndsWith(L'\\')) joined.Truncate(joined.Length() - 1);
  if (!joined.Append(L'\\') || !joined.Append(more)) return 0;
  base = static_cast<WideString&&>(joined);
  return 1;
}

void TrimTrailingSeparators(WideString& path) {
  while (path.Length() > 1 && (path.EndsWith(L'\\') || path.EndsWith(L'/')) &&
         !(path.Length() == 3 && path[1] == L':'))
    path.Truncate(path.Length() - 1);
}

bool IsUncPath(const wchar_t* path) {
  if (path == nullptr || path[0] == L'\0') return false;
  if (StartsWithLongPathPrefix(path)) return IsUncMarker(path + 4);
  return path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?';
}

const wchar_t* SkipPathPrefix(const wchar_t* path) {
  if (path == nullptr || path[0] == L'\0') return path;
  if (StartsWithLongPathPrefix(path)) return IsUncMarker(path + 4) ? path + 8 : path + 4;
  return IsUncPath(path) ? path + 2 : path;
}

int StripLastComponent(WideString& path) {
  if (path.IsEmpty()) return 0;
  const wchar_t* text = path.Get();
  size_t q = static_cast<size_t>(SkipPathPrefix(text) - text);
  // A drive letter: "C:" and "C:\" have no parent.
  if (text[q] != L'\\' && text[q] != L'\0' && text[q + 1] == L':') {
    if (text[q + 2] == L'\0') return 0;
    if (text[q + 2] == L'\\') {
      if (text[q + 3] == L'\0') return 0;
      q += 3;
    } else {
      q += 2;
    }
  }
  size_t cut = q;
  size_t last = WideString::npos;
  for (size_t i = path.Length(); i > q; --i) {
    if (text[i - 1] == L'\\') {
      last = i - 1;
      break;
    }
  }
  if (last == 0) {
    cut = 1;  // a leading backslash stays
  } else if (last != WideString::npos) {
    cut = (last > q && text[last - 1] == L'\\') ? last - 1 : last;
  }
  if (cut == path.Length()) return 0;
  path.Truncate(cut);
  return 1;
}

}  // namespace tmn
