#include "settings/product_settings.h"

#include "base/number.h"
#include "base/result.h"
#include "base/this_module.h"
#include "base/unique.h"
#include "fs/folder_chain.h"
#include "fs/module_path.h"
#include "fs/path_checks.h"
#include "fs/path_operations.h"
#include "security/access_list.h"
#include "security/system_writers.h"

namespace tmn {

HRESULT GetInstallPath(WideString* out, HMODULE module) {
  WideString folder;
  if (!ReadInstallPath(&folder)) {
    RETURN_IF_FAILED(ReadModulePath(module, &folder));
    StripLastComponent(folder);
  }
  *out = static_cast<WideString&&>(folder);
  return S_OK;
}

HRESULT GetInstallSubPath(WideString* out, const wchar_t* relative, bool create) {
  WideString path;
  RETURN_IF_FAILED(GetInstallPath(&path, ThisModule()));
  if (!AppendPath(path, relative)) return E_OUTOFMEMORY;
  if (!out->Assign(path)) return E_OUTOFMEMORY;
  if (!create) return S_OK;
  // The access list goes through the handle the last folder was made with,
  // never to whatever its name leads to by then.
  UniqueFile folder;
  SystemRule rule;
  HRESULT made = CreateFolderChain(path, rule.Links(), &folder);
  if (made == S_OK) {
    made = GrantUsersFullControl(folder.get());
    if (FAILED(made)) made = S_FALSE;
  }
  return made;
}

void GetConfigFilePath(WideString* out, bool create) {
  WideString path;
  GetInstallSubPath(&path, L"Cfg", create);
  if (!path.Append(L"\\config.ini")) path.Clear();
  *out = static_cast<WideString&&>(path);
}

HRESULT ReadProfileString(const wchar_t* file, const wchar_t* section, const wchar_t* key,
                          const wchar_t* defaultValue, WideString* out) {
  if (!IsFullyQualifiedPath(file)) return out->Assign(defaultValue) ? S_OK : E_OUTOFMEMORY;
  // One character more than a value may have, to tell a value that fits
  // from one that was cut.
  wchar_t buffer[kSettingChars + 1] = {};
  const DWORD n = ::GetPrivateProfileStringW(section, key, L"", buffer, kSettingChars + 1, file);
  if (n >= kSettingChars) {
    return out->Assign(buffer, kSettingChars - 1) ? HResultFromWin32(ERROR_MORE_DATA) : E_OUTOFMEMORY;
  }
  if (n > 0) return out->Assign(buffer, n) ? S_OK : E_OUTOFMEMORY;
  // Empty or absent: only an absent key gives back a default that is not
  // empty. The caller's default is not read through the buffer, so a long
  // one arrives whole.
  wchar_t probe[2] = {};
  const bool absent = ::GetPrivateProfileStringW(section, key, L"-", probe, 2, file) == 1;
  return out->Assign(absent ? defaultValue : L"") ? S_OK : E_OUTOFMEMORY;
}

int32_t ReadProfileInt(const wchar_t* file, const wchar_t* section, const wchar_t* key, int32_t defaultValue) {
  if (!IsFullyQualifiedPath(file)) return defaultValue;
  return static_cast<int32_t>(::GetPrivateProfileIntW(section, key, defaultValue, file));
}

void ReadProxySettings(const wchar_t* file, ProxySettings* record) {
  constexpr wchar_t kProxy[] = L"Proxy";
  record->mode = ReadProfileInt(file, kProxy, L"Mode", 1);
  if (record->mode == 0) return;
  if (record->mode == 2) {
    ReadProfileString(file, kProxy, L"Host", nullptr, &record->host);
    // Absent or empty, as the profile's integers have it: 8080.
    WideString port;
    ReadProfileString(file, kProxy, L"Port", nullptr, &port);
    record->port = port.IsEmpty() ? 8080 : ParseProxyPort(port.Get());
  }
  record->needAuth = ReadProfileInt(file, kProxy, L"Needauth", 0);
  if (record->needAuth != 0) {
    ReadProfileString(file, kProxy, L"Login", nullptr, &record->login);
    ReadProfileString(file, kProxy, L"Password", nullptr, &record->password);
  }
}

int32_t ParseProxyPort(const wchar_t* text) {
  constexpr int32_t kHighestPort = 65535;
  const int32_t port = ParseDecimalInt32(text);
  return port >= 0 && port <= kHighestPort ? port : 0;
}

}  // namespace tmn
