// A product installed into a scratch folder: "Install Path" in the
// registry key the plug-in reads (this 32-bit program's view), the
// plug-in's own module kept as a copy inside the scratch folder, and the
// configuration file. Both the key and the module are put back as found.
#pragma once

#include <windows.h>

#include <string>

#include "support/test_support.h"

namespace tmtest {

// Writes "Install Path" with the given type and raw bytes.
bool WriteInstallPathValue(DWORD type, const void* data, DWORD bytes);
bool WriteInstallPath(const std::wstring& path);

bool IsFolder(const std::wstring& path);

// The current folder is path while the object lives; the one found comes back.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::wstring& path);
  ~CurrentFolder();
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  wchar_t previous_[MAX_PATH] = {};
};

class InstalledProduct {
 public:
  InstalledProduct();
  ~InstalledProduct();
  InstalledProduct(const InstalledProduct&) = delete;
  InstalledProduct& operator=(const InstalledProduct&) = delete;

  const std::wstring& root() const { return root_; }     // the install folder
  const std::wstring& scratch() const { return dir_.path(); }
  std::wstring operator/(const std::wstring& relative) const { return root_ + L"\\" + relative; }
  std::wstring configFile() const { return root_ + L"\\Cfg\\config.ini"; }
  // Folder of the module the settings fall back to without a key.
  std::wstring moduleFolder() const { return dir_.path() + L"\\plugins"; }

  // Writes the configuration file (ASCII text; lines end in CRLF).
  void WriteConfig(const std::string& text) const;
  std::string ReadConfig() const;
  // Makes the folder chain and a file of bytes below the install folder.
  std::wstring MakeFile(const std::wstring& relative, size_t bytes = 4) const;

 private:
  TempDir dir_{L"product"};
  std::wstring root_;
  HMODULE module_ = nullptr;
  HMODULE previousModule_ = nullptr;
};

}  // namespace tmtest
