#include "report/install_identity.h"

#include <objbase.h>
#include <shlwapi.h>
#include <string.h>

#include "base/number.h"
#include "base/unique.h"
#include "fs/module_path.h"
#include "fs/path_operations.h"
#include "report/system_description.h"

namespace tmn {

namespace {

constexpr wchar_t kProductKey[] = L"SOFTWARE\\Vardo";
constexpr wchar_t kCoopKey[] = L"SOFTWARE\\Vardo\\Coop";
constexpr wchar_t kNoVersion[] = L"0.0.0.0";

// All zero at load; filled by the first reader.
InstallIdentity g_identity;

// One value of an existing key under HKEY_LOCAL_MACHINE; the key is opened
// for this read alone.
LONG QueryMachineValue(const wchar_t* key, const wchar_t* name, DWORD* type, void* data, DWORD bytes) {
  UniqueHkey opened;
  const LONG status = ::RegOpenKeyW(HKEY_LOCAL_MACHINE, key, opened.put());
  if (status != ERROR_SUCCESS) return status;
  return ::RegQueryValueExW(opened.get(), name, nullptr, type, static_cast<BYTE*>(data), &bytes);
}

// The leading decimal number of a REG_SZ value; 0 for any other value.
int32_t ReadDecimalValue(const wchar_t* name) {
  wchar_t text[101] = {};  // 100 characters offered, and a NUL that always stays
  DWORD type = REG_SZ;
  if (QueryMachineValue(kCoopKey, name, &type, text, 100 * sizeof(wchar_t)) != ERROR_SUCCESS || type != REG_SZ)
    return 0;
  return ParseDecimalInt32(text);
}

bool HasNul(const wchar_t* text, size_t capacity) {
  for (size_t i = 0; i < capacity; ++i)
    if (text[i] == L'\0') return true;
  return false;
}

void StoreUid(const wchar_t* uid) {
  UniqueHkey key;
  if (::RegOpenKeyW(HKEY_LOCAL_MACHINE, kProductKey, key.put()) != ERROR_SUCCESS) return;
  const DWORD bytes = static_cast<DWORD>(TextLength(uid) * sizeof(wchar_t));  // without the NUL
  ::RegSetValueExW(key.get(), L"uid", 0, REG_SZ, reinterpret_cast<const BYTE*>(uid), bytes);
}

}  // namespace

void FormatUid(const GUID& guid, wchar_t* uid) {
  ::wsprintfW(uid, L"%08X%04X%04x%02X%02X%02X%02X%02X%02X%02X%02X", static_cast<unsigned>(guid.Data1),
              static_cast<unsigned>(guid.Data2), static_cast<unsigned>(guid.Data3), guid.Data4[0], guid.Data4[1],
              guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
}

const wchar_t* LoadInstallIdentity() {
  InstallIdentity& identity = g_identity;
  memset(identity.installPath, 0, sizeof(identity.installPath));
  memset(identity.uid, 0, sizeof(identity.uid));

  // 126 bytes of a 128-byte buffer: the last character stays the NUL.
  DWORD type = REG_SZ;
  if (QueryMachineValue(kProductKey, L"uid", &type, identity.uid, 126) != ERROR_SUCCESS || type != REG_SZ)
    memset(identity.uid, 0, sizeof(identity.uid));

  identity.oemId = ReadDecimalValue(L"OEMID");
  identity.preOemId = ReadDecimalValue(L"PreOEMID");

  // Any data of at most 4 bytes counts, whatever its type.
  identity.installType = 0;
  type = REG_DWORD;
  if (QueryMachineValue(kCoopKey, L"InstallType", &type, &identity.installType, sizeof(identity.installType)) !=
      ERROR_SUCCESS)
    identity.installType = 0;

  // A value that fills the whole buffer has no NUL and names no folder.
  type = REG_SZ;
  if (QueryMachineValue(kProductKey, L"Install Path", &type, identity.installPath, sizeof(identity.installPath)) !=
          ERROR_SUCCESS ||
      !HasNul(identity.installPath, 260))
    memset(identity.installPath, 0, sizeof(identity.installPath));

  if (identity.uid[0] != L'\0') return identity.uid;

  GUID guid;
  if (SUCCEEDED(::CoCreateGuid(&guid))) FormatUid(guid, identity.uid);
  // Stored even when empty, so that a later process sees the same id.
  StoreUid(identity.uid);
  return identity.uid;
}

const InstallIdentity& GetInstallIdentity() {
  if (!g_identity.loaded) {
    g_identity.loaded = true;
    LoadInstallIdentity();
  }
  return g_identity;
}

void ForgetInstallIdentity() { memset(&g_identity, 0, sizeof(g_identity)); }

void GetProductVersionFrom(const WideString& hostFolder, const wchar_t* installPath, WideString* out) {
  WideString library;
  bool besideHost = false;
  if (!hostFolder.IsEmpty() && library.Assign(hostFolder) && AppendPath(library, L"pelvo.dll"))
    besideHost = ::PathFileExistsW(library.Get()) != FALSE;
  if (!besideHost) {
    // The install folder's copy is read without looking first.
    library.Clear();
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
  if (SUCCEEDED(ReadModulePath(nullptr, &hostFolder)) && !StripLastComponent(hostFolder)) hostFolder.Clear();
  GetProductVersionFrom(hostFolder, GetInstallIdentity().installPath, out);
}

}  // namespace tmn
