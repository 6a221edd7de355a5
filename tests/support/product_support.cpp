#include "support/product_support.h"

#include <shlwapi.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tmtest {

// The product is 32-bit: its keys live in the 32-bit view, which 64-bit
// test programs must name as the plug-in does.
constexpr REGSAM kProductView = KEY_WOW64_32KEY;

DWORD DeleteProductKey() {
  HKEY software = nullptr;
  DWORD status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | kProductView, &software);
  if (status != ERROR_SUCCESS) return status;
  status = SHDeleteKeyW(software, L"Vardo");
  RegCloseKey(software);
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

namespace {

LONG TrySetValue(HKEY root, const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD bytes,
                 REGSAM view = 0) {
  HKEY opened = nullptr;
  LONG status = RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &opened, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(opened, name, 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(opened);
  }
  return status;
}

void SetValue(HKEY root, const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD bytes,
              REGSAM view = 0) {
  const LONG status = TrySetValue(root, key, name, type, data, bytes, view);
  if (status != ERROR_SUCCESS)
    throw std::runtime_error("cannot set " + Narrow(key) + " " + Narrow(name) + ": error " + std::to_string(status));
}

bool GetValue(HKEY root, const wchar_t* key, const wchar_t* name, DWORD* type, std::vector<BYTE>* data,
              REGSAM view = 0) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) return false;
  DWORD bytes = 0;
  LONG status = RegQueryValueExW(opened, name, nullptr, type, nullptr, &bytes);
  if (status == ERROR_SUCCESS) {
    data->assign(bytes, 0);
    status = RegQueryValueExW(opened, name, nullptr, type, data->data(), &bytes);
    data->resize(bytes);
  }
  RegCloseKey(opened);
  return status == ERROR_SUCCESS;
}

}  // namespace

CleanProductKey::CleanProductKey() {
  const DWORD status = DeleteProductKey();
  if (status != ERROR_SUCCESS)
    throw std::runtime_error("cannot delete HKLM\\SOFTWARE\\Vardo: error " + std::to_string(status));
}
CleanProductKey::~CleanProductKey() { DeleteProductKey(); }

LONG TrySetMachineValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  return TrySetValue(HKEY_LOCAL_MACHINE, key, name, type, data, bytes, kProductView);
}

void SetMachineValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  SetValue(HKEY_LOCAL_MACHINE, key, name, type, data, bytes, kProductView);
}

// Windows adds the NUL that a text's byte count leaves out when one follows
// the text in memory; a character that is not NUL keeps it out.
std::wstring WithoutNulAfter(const std::wstring& text) { return text + L'\xFFFF'; }

void SetMachineText(const wchar_t* key, const wchar_t* name, const std::wstring& text, DWORD type) {
  SetMachineValue(key, name, type, WithoutNulAfter(text).data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

void SetMachineDword(const wchar_t* key, const wchar_t* name, DWORD value) {
  SetMachineValue(key, name, REG_DWORD, &value, sizeof(value));
}

bool GetMachineValue(const wchar_t* key, const wchar_t* name, DWORD* type, std::vector<BYTE>* data) {
  return GetValue(HKEY_LOCAL_MACHINE, key, name, type, data, kProductView);
}

ScopedValue::ScopedValue(HKEY root, const wchar_t* key, const wchar_t* name, REGSAM view)
    : root_(root), key_(key), name_(name), view_(view) {
  existed_ = GetValue(root_, key, name, &type_, &data_, view_);
}

ScopedValue::~ScopedValue() {
  if (existed_) {
    TrySetValue(root_, key_.c_str(), name_.c_str(), type_, data_.data(), static_cast<DWORD>(data_.size()), view_);
  } else {
    Delete();
  }
}

void ScopedValue::SetText(const std::wstring& text) {
  SetBytes(REG_SZ, WithoutNulAfter(text).data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

void ScopedValue::SetBytes(DWORD type, const void* data, DWORD bytes) {
  SetValue(root_, key_.c_str(), name_.c_str(), type, data, bytes, view_);
}

void ScopedValue::Delete() {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root_, key_.c_str(), 0, KEY_SET_VALUE | view_, &opened) != ERROR_SUCCESS) return;
  RegDeleteValueW(opened, name_.c_str());
  RegCloseKey(opened);
}

ScopedShellFolder::ScopedShellFolder(const wchar_t* name)
    : ScopedValue(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", name) {}

ScopedServicePack::ScopedServicePack()
    : ScopedValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Windows", L"CSDVersion") {}

std::wstring PrefixOsDescription() {
  const char* kind = std::getenv("TM_WINE_KIND");
  if (kind == nullptr) throw std::runtime_error("TM_WINE_KIND is not set: run the tests through CTest");
  const std::string k(kind);
  if (k == "main") return L"win6.1.sp1";
  if (k == "xp64") return L"win6.1.sp2";
  if (k == "win32") return L"win6.1.sp3";
  throw std::runtime_error("unknown TM_WINE_KIND " + k);
}

std::wstring VersionFile(const wchar_t* tag, const wchar_t* file) {
  return TestBinDir() + L"\\versions\\" + tag + L"\\" + file;
}

void PlaceVersionFile(const wchar_t* tag, const wchar_t* file, const std::wstring& folder) {
  CreateDirectoryW(folder.c_str(), nullptr);
  if (!CopyFileW(VersionFile(tag, file).c_str(), (folder + L"\\" + file).c_str(), FALSE))
    throw std::runtime_error("cannot copy the version file " + Narrow(tag) + ": error " + std::to_string(GetLastError()));
}

std::wstring StandInPath() { return TestBinDir() + L"\\..\\..\\standins\\gleanor\\gleanor.dll"; }

std::wstring InstallStandIn(const std::wstring& folder) {
  const std::wstring ovec = folder + L"\\ovec";
  CreateDirectoryW(ovec.c_str(), nullptr);
  if (!CopyFileW(StandInPath().c_str(), (ovec + L"\\gleanor.dll").c_str(), FALSE))
    throw std::runtime_error("cannot copy the stand-in: error " + std::to_string(GetLastError()));
  return ovec + L"\\gleanor.log";
}

std::vector<std::string> ReadLogLines(const std::wstring& log) {
  std::ifstream in(std::filesystem::path(log), std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : lines)
    if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
  return found;
}

}  // namespace tmtest
