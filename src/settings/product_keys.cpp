#include "settings/product_keys.h"

#include <string.h>

#include <utility>


namespace tmn {

namespace {

// A drive and its colon with their NUL, or three characters.
constexpr DWORD kLibrarySearchLeastBytes = 3 * sizeof(wchar_t);  // 6

bool EndsWithSeparator(const WideString& path) { return path.EndsWith(L'\\') || path.EndsWith(L'/'); }

}  // namespace

LONG OpenProductKey(const wchar_t* key, REGSAM access, UniqueHkey* opened) {
  return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, access | KEY_WOW64_32KEY, opened->put());
}

LONG ReadInstallPathValue(DWORD offeredBytes, InstallPathValue* value) {
  memset(value, 0, sizeof(*value));
  if (offeredBytes > sizeof(value->text)) offeredBytes = sizeof(value->text);
  UniqueHkey key;
  const LONG opened = OpenProductKey(kProductKey, KEY_READ, &key);
  if (opened != ERROR_SUCCESS) return opened;
  value->bytes = offeredBytes;
  const LONG status = ::RegQueryValueExW(key.get(), kInstallPathValue, nullptr, &value->type,
                                         reinterpret_cast<BYTE*>(value->text), &value->bytes);
  if (status != ERROR_SUCCESS) memset(value->text, 0, sizeof(value->text));
  return status;
}

void ReadInstallPathText(wchar_t (&out)[kInstallPathChars]) {
  InstallPathValue value;
  InstallPathTextOfValue(ReadInstallPathValue(sizeof(value.text), &value), value.text, out);
}

void InstallPathTextOfValue(LONG status, const wchar_t (&text)[kInstallPathChars],
                            wchar_t (&out)[kInstallPathChars]) {
  memset(out, 0, sizeof(out));
  if (status != ERROR_SUCCESS) return;
  // A value that fills the whole buffer has no NUL and names no folder.
  if (wmemchr(text, L'\0', kInstallPathChars) == nullptr) return;
  memcpy(out, text, sizeof(out));
}

bool ReadInstallFolder(WideString* out) {
  InstallPathValue value;
  const LONG status = ReadInstallPathValue(kLibrarySearchOfferedBytes, &value);
  return InstallFolderOfValue(status, value.type, value.bytes, value.text, out);
}

bool InstallFolderOfValue(LONG status, DWORD type, DWORD bytes, const wchar_t (&text)[kInstallPathChars],
                          WideString* out) {
  if (status != ERROR_SUCCESS || type != REG_SZ || bytes < kLibrarySearchLeastBytes || text[0] == L'\0') return false;
  WideString folder;
  if (!folder.Assign(text)) return false;
  if (!EndsWithSeparator(folder) && !folder.Append(L'\\')) return false;
  *out = std::move(folder);
  return true;
}

}  // namespace tmn
