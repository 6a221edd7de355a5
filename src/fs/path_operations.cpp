#include "fs/path_operations.h"

#include "base/ascii.h"
#include "base/heap.h"
#include "base/result.h"
#include "base/unique.h"
#include "fs/path_checks.h"

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

}  // namespace

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
