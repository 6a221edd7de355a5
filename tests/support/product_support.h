// What the tests of the reports share: the product's registry keys, cleaned before
// and after each case; the current user's shell-folder values and the
// service-pack value, put back as they were; the files built to carry
// versions; and the info-collection stand-in with the log it writes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace tmtest {

constexpr wchar_t kProductKey[] = L"SOFTWARE\\Vardo";
constexpr wchar_t kCoopKey[] = L"SOFTWARE\\Vardo\\Coop";

// Deletes HKLM\SOFTWARE\Vardo with all it holds; ERROR_SUCCESS also when
// it was not there.
DWORD DeleteProductKey();

// HKLM\SOFTWARE\Vardo deleted with all it holds at start and at end.
class CleanProductKey {
 public:
  CleanProductKey();
  ~CleanProductKey();
  CleanProductKey(const CleanProductKey&) = delete;
  CleanProductKey& operator=(const CleanProductKey&) = delete;
};

// Writes raw bytes as a value of the product's keys under HKLM, in the
// 32-bit view, creating the key; throws when it
// cannot, or (Try...) returns the error.
LONG TrySetMachineValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD bytes);
void SetMachineValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD bytes);
// A text value stored without any NUL.
void SetMachineText(const wchar_t* key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ);
void SetMachineDword(const wchar_t* key, const wchar_t* name, DWORD value);
// The value's type and bytes; false when it is missing.
bool GetMachineValue(const wchar_t* key, const wchar_t* name, DWORD* type, std::vector<BYTE>* data);

// A registry value set for one case and put back (or deleted) at its end,
// in the registry view given (KEY_WOW64_32KEY: the 32-bit one).
class ScopedValue {
 public:
  ScopedValue(HKEY root, const wchar_t* key, const wchar_t* name, REGSAM view = 0);
  ~ScopedValue();
  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;
  void SetText(const std::wstring& text);  // REG_SZ without its NUL
  void SetBytes(DWORD type, const void* data, DWORD bytes);
  void Delete();

 private:
  HKEY root_;
  std::wstring key_, name_;
  REGSAM view_;
  bool existed_ = false;
  DWORD type_ = 0;
  std::vector<BYTE> data_;
};

// The current user's "Shell Folders" value of that name.
class ScopedShellFolder : public ScopedValue {
 public:
  explicit ScopedShellFolder(const wchar_t* name);
};

// HKLM "CSDVersion", the service pack in its second byte.
class ScopedServicePack : public ScopedValue {
 public:
  ScopedServicePack();
};

// The description of Windows in the test's prefix (TM_WINE_KIND): Wine's
// kernel file, 6.1.7601 in every prefix, raises the XP prefixes to 6.1,
// each keeping its own service pack.
std::wstring PrefixOsDescription();

// tests/bin/versions/<tag>/<file>: files built to carry one file version.
std::wstring VersionFile(const wchar_t* tag, const wchar_t* file);
// Copies such a file into a folder, under its own name.
void PlaceVersionFile(const wchar_t* tag, const wchar_t* file, const std::wstring& folder);

// The info-collection stand-in, copied to folder\ovec\gleanor.dll. Its log
// is folder\ovec\gleanor.log.
std::wstring StandInPath();
std::wstring InstallStandIn(const std::wstring& folder);
std::vector<std::string> ReadLogLines(const std::wstring& log);
// The lines of the log that start with prefix.
std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix);

// TM_GLEANOR_FAIL for one case.
class StandInFaults {
 public:
  explicit StandInFaults(const char* faults) { SetEnvironmentVariableA("TM_GLEANOR_FAIL", faults); }
  ~StandInFaults() { SetEnvironmentVariableA("TM_GLEANOR_FAIL", nullptr); }
  StandInFaults(const StandInFaults&) = delete;
  StandInFaults& operator=(const StandInFaults&) = delete;
};

}  // namespace tmtest
