#include "support/installed_product.h"

#include <shlwapi.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/this_module.h"
#include "support/product_support.h"

namespace tmtest {

bool WriteInstallPathValue(DWORD type, const void* data, DWORD bytes) {
  return TrySetMachineValue(kProductKey, L"Install Path", type, data, bytes) == ERROR_SUCCESS;
}

bool WriteInstallPath(const std::wstring& path) {
  return WriteInstallPathValue(REG_SZ, path.c_str(), static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

CurrentFolder::CurrentFolder(const std::wstring& path) {
  GetCurrentDirectoryW(MAX_PATH, previous_);
  if (!SetCurrentDirectoryW(path.c_str())) throw std::runtime_error("cannot stand in " + Narrow(path));
}

CurrentFolder::~CurrentFolder() { SetCurrentDirectoryW(previous_); }

InstalledProduct::InstalledProduct() : root_(dir_ / L"Vardo") {
  if (DeleteProductKey() != ERROR_SUCCESS || !CreateDirectoryW(root_.c_str(), nullptr) || !WriteInstallPath(root_))
    throw std::runtime_error("cannot install the product into " + Narrow(root_));
  // Where the plug-in looks for the product without a key: its own folder.
  const std::wstring modules = moduleFolder();
  const std::wstring copy = modules + L"\\tmnsisplug.dll";
  if (!CreateDirectoryW(modules.c_str(), nullptr) || !CopyFileW(PluginDllPath().c_str(), copy.c_str(), FALSE))
    throw std::runtime_error("cannot copy the plug-in into " + Narrow(modules));
  module_ = LoadLibraryExW(copy.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (module_ == nullptr) throw std::runtime_error("cannot load " + Narrow(copy));
  previousModule_ = tmn::ThisModule();
  tmn::KeepThisModule(module_);
}

InstalledProduct::~InstalledProduct() {
  tmn::KeepThisModule(previousModule_);
  FreeLibrary(module_);
  DeleteProductKey();
}

void InstalledProduct::WriteConfig(const std::string& text) const {
  CreateDirectoryW((root_ + L"\\Cfg").c_str(), nullptr);
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  if (!WriteFileText(configFile(), crlf)) throw std::runtime_error("cannot write " + Narrow(configFile()));
}

std::string InstalledProduct::ReadConfig() const {
  std::ifstream in(std::filesystem::path(configFile()), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string lf;
  for (char c : text.str())
    if (c != '\r') lf += c;
  return lf;
}

std::wstring InstalledProduct::MakeFile(const std::wstring& relative, size_t bytes) const {
  const std::filesystem::path path = std::filesystem::path(root_) / relative;
  std::filesystem::create_directories(path.parent_path());
  if (!WriteFileText(path.wstring(), std::string(bytes, 'd'))) throw std::runtime_error("cannot write a file");
  return path.wstring();
}

}  // namespace tmtest
