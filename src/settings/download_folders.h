// The folders the product downloads hotfixes, software packages and
// drivers into: the one the configuration file names, else the default
// below the install folder.
#pragma once

#include <windows.h>

#include "base/wide_string.h"

namespace tmn {

// Defaults below the install folder.
constexpr wchar_t kHotfixFolder[] = L"Hotfix";
constexpr wchar_t kSoftFolder[] = L"Orvik\\Download";
constexpr wchar_t kDriverFolder[] = L"Driver\\Download";

// The folder in force for each kind, exactly as the configuration file
// holds it (a trailing backslash stays), or the default, which is empty
// when the install folder is unknown. The software and driver defaults are
// made on every call; the hotfix default is not. Results as
// ReadProfileString: a failure means out holds no usable folder (a value
// longer than 259 characters arrives as its first 259).
HRESULT GetHotfixDownloadDir(const wchar_t* configFile, WideString* out);
HRESULT GetSoftDownloadDir(const wchar_t* configFile, WideString* out);
HRESULT GetDriverDownloadDir(const wchar_t* configFile, WideString* out);

}  // namespace tmn
