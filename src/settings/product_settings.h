// The product's installed copy: its install folder from the registry,
// paths below it, its configuration file and the proxy settings in it.
// Nothing is cached: every call reads the registry and the file again.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/wide_string.h"
#include "settings/product_keys.h"

namespace tmn {

// Room for a path or a profile value, the NUL included.
constexpr DWORD kSettingChars = MAX_PATH;  // 260

// The install folder: the "Install Path" value (ReadInstallPath: a REG_SZ
// text, not expanded, up to its first NUL; an empty text counts), or else
// the folder holding module's own file. On failure out is left as it was.
HRESULT GetInstallPath(WideString* out, HMODULE module);

// The install folder joined with relative, for this plug-in's own module.
// With create, missing folders along it are made (CreateFolderChain: each
// relative to the one above, no link planted on the way followed), and a
// folder just made is opened to the users group before Windows 6, through
// its own handle. S_OK when a folder was made, S_FALSE when all existed; a
// failure when the install folder is unknown (out left as it was) or a
// folder could not be made. Nothing is made for a path that is not fully
// qualified.
HRESULT GetInstallSubPath(WideString* out, const wchar_t* relative, bool create);

// The install folder's "Cfg\config.ini"; create makes the "Cfg" folder.
// Empty when memory runs out.
void GetConfigFilePath(WideString* out, bool create);

// The key's value, or defaultValue (null: empty) when the key is absent.
// S_OK with the whole value; HRESULT_FROM_WIN32(ERROR_MORE_DATA) when the
// value is longer than 259 characters and out holds its first 259; on
// E_OUTOFMEMORY out is left as it was. A file that is not at a fully
// qualified path is not read: the key counts as absent.
HRESULT ReadProfileString(const wchar_t* file, const wchar_t* section, const wchar_t* key,
                          const wchar_t* defaultValue, WideString* out);

// The integer of a key by the platform's rules, defaultValue when absent;
// a file that is not at a fully qualified path is not read.
int32_t ReadProfileInt(const wchar_t* file, const wchar_t* section, const wchar_t* key, int32_t defaultValue);

struct ProxySettings {
  int32_t mode = 1;  // 0: direct; 2: host and port; other: the system's settings
  WideString host;
  int32_t port = 0;  // 0: none given
  int32_t needAuth = 0;
  WideString login;
  WideString password;
};

// Fills the record from the "Proxy" section of file, reading each key only
// in the modes that use it; fields whose keys are not read keep their value.
// The "Bypassproxyserverforlocaladdress" key is not read: no proxy choice
// of the beacon depends on it.
void ReadProxySettings(const wchar_t* file, ProxySettings* record);

// The proxy port a "Port" value gives: its leading decimal number when that
// is a TCP port, 1 to 65535; any other number counts as none (0). The
// platform's profile integers would wrap a larger one, and WinINet would
// keep the low 16 bits of what is left: 4294967376 and 65616 would both
// be port 80.
int32_t ParseProxyPort(const wchar_t* text);

}  // namespace tmn
