#include "fs/path_checks.h"

#include "base/ascii.h"
#include "base/heap.h"
#include "base/result.h"
#include "base/unique.h"
#include "fs/path_operations.h"

namespace tmn {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool IsDriveRooted(const wchar_t* p) { return IsAsciiLetter(p[0]) && p[1] == L':' && IsSeparator(p[2]); }

// "server\share" with neither part empty.
bool HasServerAndShare(const wchar_t* p) {
  const wchar_t* server = p;
  while (*p != L'\0' && !IsSeparator(*p)) ++p;
  return p != server && IsSeparator(*p) && p[1] != L'\0' && !IsSeparator(p[1]);
}

// Upper case by the invariant locale, as a file system's case folding.
HRESULT UpperCaseFullPath(const wchar_t* path, WideString* out) {
  WideString full;
  RETURN_IF_FAILED(GetFullPath(path, &full));
  while (full.EndsWith(L'\\')) full.Truncate(full.Length() - 1);
  if (full.IsEmpty()) return S_OK;
  const int n = static_cast<int>(full.Length());
  if (!out->Assign(full)) return E_OUTOFMEMORY;
  if (::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, full.Get(), n, out->Data(), n) != n)
    return HResultFromLastError();
  return S_OK;
}

// Characters Windows reads as a stream, a drive, or a search pattern.
bool HasSpecialCharacter(const wchar_t* name) {
  for (; *name != L'\0'; ++name) {
    const wchar_t c = *name;
    if (c < 0x20 || c == L':' || c == L'*' || c == L'?' || c == L'<' || c == L'>' || c == L'"' || c == L'|')
      return true;
  }
  return false;
}

}  // namespace

bool IsFullyQualifiedPath(const wchar_t* path) {
  if (path == nullptr) return false;
  if (path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' && path[3] == L'\\') {
    const wchar_t* rest = path + 4;
    if (EqualsIgnoringAsciiCase(rest, L"UNC", 3) && rest[3] == L'\\') return HasServerAndShare(rest + 4);
    return IsDriveRooted(rest);
  }
  if (IsDriveRooted(path)) return true;
  return IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] != L'?' && path[2] != L'.' &&
         HasServerAndShare(path + 2);
}

HRESULT GetFullPath(const wchar_t* path, WideString* out) {
  DWORD room = MAX_PATH;  // characters, the NUL included
  for (int attempt = 0; attempt < 3; ++attempt) {
    size_t bytes = 0;
    if (!MultiplyWithoutOverflow(room, sizeof(wchar_t), &bytes)) return E_OUTOFMEMORY;
    UniqueHeapBlock block(HeapAllocate(bytes));
    wchar_t* buffer = static_cast<wchar_t*>(block.get());
    if (buffer == nullptr) return E_OUTOFMEMORY;
    const DWORD n = ::GetFullPathNameW(path, room, buffer, nullptr);
    if (n == 0) return HResultFromLastError();
    if (n < room) return out->Assign(buffer, n) ? S_OK : E_OUTOFMEMORY;
    room = n;  // the size needed, the NUL included
  }
  return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
}

Placement PlaceOf(const wchar_t* path, const wchar_t* folder) {
  WideString fullPath, fullFolder;
  if (FAILED(UpperCaseFullPath(path, &fullPath)) || FAILED(UpperCaseFullPath(folder, &fullFolder)) ||
      fullFolder.IsEmpty())
    return Placement::kOutside;
  const size_t n = fullFolder.Length();
  if (fullPath.Length() < n) return Placement::kOutside;
  for (size_t i = 0; i < n; ++i)
    if (fullPath[i] != fullFolder[i]) return Placement::kOutside;
  if (fullPath.Length() == n) return Placement::kSame;
  return fullPath[n] == L'\\' ? Placement::kBelow : Placement::kOutside;
}

bool IsSameOrBelowFolder(const wchar_t* path, const wchar_t* folder) {
  return PlaceOf(path, folder) != Placement::kOutside;
}

bool IsNameBelowFolder(const wchar_t* folder, const wchar_t* name) {
  if (!IsFullyQualifiedPath(folder) || name == nullptr || name[0] == L'\0' || IsSeparator(name[0]) ||
      HasSpecialCharacter(name))
    return false;
  WideString joined, base;
  // The folder itself is not a file of it: strictly below only.
  return base.Assign(folder) && JoinName(base, name, &joined) && PlaceOf(joined.Get(), folder) == Placement::kBelow;
}

}  // namespace tmn
