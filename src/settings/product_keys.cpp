#include "settings/product_keys.h"

#include <string.h>

#include <utility>


namespace tmn {

namespace {

// Two characters short of the buffer, so the text always ends within it.
constexpr DWORD kLibrarySearchOfferedBytes = (kInstallPathChars - 2) * sizeof(wchar_t);  // 516
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
  memset(out, 0, sizeof(out));
  if (ReadInstallPathValue(sizeof(value.text), &value) != ERROR_SUCCESS) return;
  // A value that fills the whole buffer has no NUL and names no folder.
  if (wmemchr(value.text, L'\0', kInstallPathChars) == nullptr) return;
  memcpy(out, value.text, sizeof(out));
}

bool ReadInstallFolder(WideString* out) {
  InstallPathValue value;
  if (ReadInstallPathValue(kLibrarySearchOfferedBytes, &value) != ERROR_SUCCESS || value.type != REG_SZ ||
      value.bytes < kLibrarySearchLeastBytes || value.text[0] == L'\0') {
    return false;
  }
  WideString text;
  if (!text.Assign(value.text)) return false;
  if (!EndsWithSeparator(text) && !text.Append(L'\\')) return false;
  *out = std::move(text);
  return true;
}

}  // namespace tmn
