#include "settings/product_keys.h"

#include <string.h>

namespace tmn {

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

bool InstallPathOfValue(const InstallPathValue& value, WideString* out) {
  if (value.type != REG_SZ) return false;
  // A text that fills the whole buffer has no NUL, and may go on beyond it.
  const wchar_t* end = wmemchr(value.text, L'\0', kInstallPathChars);
  return end != nullptr && out->Assign(value.text, static_cast<size_t>(end - value.text));
}

bool ReadInstallPath(WideString* out) {
  InstallPathValue value;
  return ReadInstallPathValue(sizeof(value.text), &value) == ERROR_SUCCESS && InstallPathOfValue(value, out);
}

}  // namespace tmn
