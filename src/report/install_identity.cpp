#include "report/install_identity.h"

#include <objbase.h>
#include <shlwapi.h>
#include <string.h>

#include "base/number.h"
#include "base/unique.h"
#include "fs/file_version.h"
#include "fs/module_path.h"
#include "fs/path_operations.h"
#include "report/process_objects.h"
#include "settings/product_keys.h"

namespace tmn {

namespace {

constexpr wchar_t kNoVersion[] = L"0.0.0.0";
constexpr wchar_t kUidValue[] = L"uid";

// All zero at load; filled by the first reader. Placed in .bss by name:
// MinGW gives each object of its own data section file space in .data,
// zeros included, and this one is the largest.
__attribute__((section(".bss"))) InstallIdentity g_identity;

// One value of an existing key of the product's; the key is opened for
// this read alone.
LONG QueryProductValue(const wchar_t* key, const wchar_t* name, DWORD* type, void* data, DWORD bytes) {
  UniqueHkey opened;
  const LONG status = OpenProductKey(key, KEY_QUERY_VALUE, &opened);
  if (status != ERROR_SUCCESS) return status;
  return ::RegQueryValueExW(opened.get(), name, nullptr, type, static_cast<BYTE*>(data), &bytes);
}

// The leading decimal number of a REG_SZ value; 0 for any other value.
int32_t ReadDecimalValue(const wchar_t* name) {
  wchar_t text[kOemTextChars + 1] = {};
  DWORD type = REG_SZ;
  const LONG status = QueryProductValue(kCoopKey, name, &type, text, kOemTextChars * sizeof(wchar_t));
  return DecimalOfValue(status, type, text);
}

// The install folder the identity names, read with the identity when the
// version search first needs it.
const wchar_t* IdentityInstallPath() { return GetInstallIdentity().installPath; }

void StoreUid(const wchar_t* uid) {
  UniqueHkey key;
  if (OpenProductKey(kProductKey, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  const DWORD bytes = static_cast<DWORD>(TextLength(uid) * sizeof(wchar_t));  // without the NUL
  ::RegSetValueExW(key.get(), kUidValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(uid), bytes);
}

}  // namespace

void FormatUid(const GUID& guid, wchar_t* uid) {
  ::wsprintfW(uid, L"%08X%04X%04x%02X%02X%02X%02X%02X%02X%02X%02X", static_cast<unsigned>(guid.Data1),
              static_cast<unsigned>(guid.Data2), static_cast<unsigned>(guid.Data3), guid.Data4[0], guid.Data4[1],
              guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
}

bool KeepUidValue(LONG status, DWORD type, wchar_t (&uid)[kUidChars]) {
  if (status == ERROR_SUCCESS && type == REG_SZ) return true;
  memset(uid, 0, sizeof(uid));
  return false;
}

int32_t DecimalOfValue(LONG status, DWORD type, const wchar_t (&text)[kOemTextChars + 1]) {
  return status == ERROR_SUCCESS && type == REG_SZ ? ParseDecimalInt32(text) : 0;
}

const wchar_t* LoadInstallIdentity() {
  InstallIdentity& identity = g_identity;
  memset(identity.installPath, 0, sizeof(identity.installPath));
  memset(identity.uid, 0, sizeof(identity.uid));

  DWORD type = REG_SZ;
  const LONG uidRead = QueryProductValue(kProductKey, kUidValue, &type, identity.uid, kUidOfferedBytes);
  const bool uidReadable = KeepUidValue(uidRead, type, identity.uid);
  // A stored uid that cannot be read (too long, of another type) is the
  // product's, and stays: this process makes one of its own for itself.
  const bool storeUid = uidReadable || uidRead == ERROR_FILE_NOT_FOUND;

  identity.oemId = ReadDecimalValue(L"OEMID");
  identity.preOemId = ReadDecimalValue(L"PreOEMID");

  // Any data of at most 4 bytes counts, whatever its type.
  identity.installType = 0;
  type = REG_DWORD;
  if (QueryProductValue(kCoopKey, L"InstallType", &type, &identity.installType, sizeof(identity.installType)) !=
      ERROR_SUCCESS)
    identity.installType = 0;

  WideString installPath;
  if (ReadInstallPath(&installPath))
    memcpy(identity.installPath, installPath.Get(), installPath.Length() * sizeof(wchar_t));

  if (identity.uid[0] != L'\0') return identity.uid;

  GUID guid;
  if (SUCCEEDED(::CoCreateGuid(&guid))) FormatUid(guid, identity.uid);
  // Stored even when empty, so that a later process sees the same id.
  if (storeUid) StoreUid(identity.uid);
  return identity.uid;
}

const InstallIdentity& GetInstallIdentity() {
  CriticalSectionLock lock(g_identityLock);
  if (!g_identity.loaded) {
    g_identity.loaded = true;
    LoadInstallIdentity();
  }
  return g_identity;
}

void ForgetInstallIdentity() { memset(&g_identity, 0, sizeof(g_identity)); }

void GetProductVersionFrom(const WideString& hostFolder, InstallFolderSource installFolder, WideString* out) {
  WideString library;
  bool besideHost = false;
  if (!hostFolder.IsEmpty() && library.Assign(hostFolder) && AppendPath(library, L"pelvo.dll"))
    besideHost = ::PathFileExistsW(library.Get()) != FALSE;
  if (!besideHost) {
    // The install folder's copy is read without looking first.
    library.Clear();
    const wchar_t* installPath = installFolder();
    if (installPath[0] != L'\0' && library.Assign(installPath)) AppendPath(library, L"pelvo.dll");
  }
  FileVersion version = {};
  if (!library.IsEmpty() && GetFileVersion(library.Get(), &version) && FormatFileVersion(version, out) &&
      !out->IsEmpty() && !out->Equals(kNoVersion)) {
    return;
  }
  WideString executable;
  if (!hostFolder.IsEmpty() && executable.Assign(hostFolder) && AppendPath(executable, L"vardo.exe") &&
      GetFileVersion(executable.Get(), &version) && FormatFileVersion(version, out)) {
    return;
  }
  out->Assign(kNoVersion);
}

void GetProductVersion(WideString* out) {
  // A host path that fills its buffer was cut: its folder would name an
  // ancestor, so only the install folder is searched then.
  WideString hostFolder;
  ReadHostFolder(&hostFolder);
  GetProductVersionFrom(hostFolder, IdentityInstallPath, out);
}

}  // namespace tmn
