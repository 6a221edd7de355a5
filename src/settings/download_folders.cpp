#include "settings/download_folders.h"

#include "settings/product_settings.h"

namespace tmn {

namespace {

struct DownloadKind {
  const wchar_t* defaultFolder;
  const wchar_t* section;
  const wchar_t* key;
  bool makeDefault;
};

constexpr DownloadKind kHotfix = {kHotfixFolder, L"VulMain", L"DownPath", false};
constexpr DownloadKind kSoft = {kSoftFolder, L"SoftMain", L"SoftDownDir", true};
constexpr DownloadKind kDriver = {kDriverFolder, L"DrvMain", L"DrvDownDir", true};

HRESULT GetDownloadDir(const DownloadKind& kind, const wchar_t* configFile, WideString* out) {
  WideString defaultDir;
  GetInstallSubPath(&defaultDir, kind.defaultFolder, kind.makeDefault);
  return ReadProfileString(configFile, kind.section, kind.key, defaultDir.Get(), out);
}

}  // namespace

HRESULT GetHotfixDownloadDir(const wchar_t* configFile, WideString* out) {
  return GetDownloadDir(kHotfix, configFile, out);
}

HRESULT GetSoftDownloadDir(const wchar_t* configFile, WideString* out) {
  return GetDownloadDir(kSoft, configFile, out);
}

HRESULT GetDriverDownloadDir(const wchar_t* configFile, WideString* out) {
  return GetDownloadDir(kDriver, configFile, out);
}

}  // namespace tmn
