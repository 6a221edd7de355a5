#include "fs/path_checks.h"

#include "base/ascii.h"
#include "base/heap.h"
#include "base/result.h"
#include "base/unique.h"

namespace tmn {

namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool IsDriveRooted(const wchar_t* p) { return IsAsciiLetter(p[0]) && p[1] == L':' && IsPathSeparator(p[2]); }

// "server\share" with neither part empty.
bool HasServerAndShare(const wchar_t* p) {
  const wchar_t* server = p;
  while (*p != L'\0' && !IsPathSeparator(*p)) ++p;
  return p != server && IsPathSeparator(*p) && p[1] != L'\0' && !IsPathSeparator(p[1]);
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
  return IsPathSeparator(path[0]) && IsPathSeparator(path[1]) && path[2] != L'?' && path[2] != L'.' &&
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

bool NtPathOf(const wchar_t* path, size_t length, WideString* out) {
  if (length >= 4 && path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' && path[3] == L'\\')
    return out->Assign(L"\\??\\") && out->Append(path + 4, length - 4);
  if (length >= 2 && path[0] == L'\\' && path[1] == L'\\')
    return out->Assign(L"\\??\\UNC\\") && out->Append(path + 2, length - 2);
  return out->Assign(L"\\??\\") && out->Append(path, length);
}

bool HasWildcard(const wchar_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (text[i] == L'*' || text[i] == L'?') return true;
  return false;
}

bool IsPlainName(const wchar_t* name, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const wchar_t c = name[i];
    if (c < 0x20 || c == L':' || c == L'*' || c == L'?' || c == L'<' || c == L'>' || c == L'"' || c == L'|')
      return false;
  }
  return length > 0;
}

}  // namespace tmn
