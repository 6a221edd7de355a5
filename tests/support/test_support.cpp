#include "support/test_support.h"

#include <aclapi.h>
#include <tlhelp32.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace tmtest {

bool PrefixIsPreVista() {
  const char* kind = std::getenv("TM_WINE_KIND");
  if (kind == nullptr) throw std::runtime_error("TM_WINE_KIND is not set: run the tests through CTest");
  const std::string k(kind);
  if (k == "main") return false;
  if (k == "xp64" || k == "win32") return true;
  throw std::runtime_error("unknown TM_WINE_KIND " + k);
}

std::wstring TestBinDir() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.find_last_of(L'\\'));
}

std::wstring HelperPath(const wchar_t* name) { return TestBinDir() + L"\\" + name; }

std::wstring PluginDllPath(const wchar_t* folder) {
  return TestBinDir() + L"\\" + TM_PLUGIN_ROOT + L"\\" + folder + L"\\tmnsisplug.dll";
}

bool WindowsIs64Bit() {
  BOOL wow64 = FALSE;
  return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

GuardedBlock::GuardedBlock(size_t bytes) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  const size_t pages = (bytes + page - 1) / page;
  block_ = VirtualAlloc(nullptr, (pages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  char* guard = static_cast<char*>(block_) + pages * page;
  DWORD old = 0;
  VirtualProtect(guard, page, PAGE_NOACCESS, &old);
  start_ = guard - bytes;
  memset(start_, 0xbd, bytes);
}

GuardedBlock::~GuardedBlock() { VirtualFree(block_, 0, MEM_RELEASE); }

TempDir::TempDir(const wchar_t* tag) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring base(temp);
  if (!base.empty() && base.back() == L'\\') base.pop_back();
  static unsigned counter = 0;
  // A name that is taken is tried again under the next number; a folder
  // that cannot be made at all fails the test instead of hanging it.
  for (int attempt = 0;; ++attempt) {
    path_ = base + L"\\" + tag + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(++counter);
    if (CreateDirectoryW(path_.c_str(), nullptr)) break;
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS || attempt >= 100)
      throw std::runtime_error("cannot make a temporary folder under " + Narrow(base) + ": error " +
                               std::to_string(error));
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Anything a test made read-only must still go.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    // A name Win32 re-reads ("nul", "m.") can stop the iterator where it is.
    if (ignored) break;
    SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::filesystem::remove_all(path_, ignored);
}

bool WriteFileText(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size();
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool GrantEveryoneFullAccess(const std::wstring& path) {
  EXPLICIT_ACCESS_W everyone;
  BuildExplicitAccessWithNameW(&everyone, const_cast<wchar_t*>(L"Everyone"), GENERIC_ALL, SET_ACCESS, NO_INHERITANCE);
  PACL granted = nullptr;
  if (SetEntriesInAclW(1, &everyone, nullptr, &granted) != ERROR_SUCCESS) return false;
  const DWORD set = SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                          DACL_SECURITY_INFORMATION, nullptr, nullptr, granted, nullptr);
  LocalFree(granted);
  return set == ERROR_SUCCESS;
}

ChildProcess::~ChildProcess() {
  if (process_ != nullptr) {
    TerminateProcess(process_, 1);
    CloseHandle(process_);
  }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : process_(other.process_), pid_(other.pid_) {
  other.process_ = nullptr;
  other.pid_ = 0;
}

bool ChildProcess::Start(const std::wstring& exe, const std::wstring& arguments) {
  std::wstring command = L"\"" + exe + L"\"";
  if (!arguments.empty()) command += L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return false;
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
  return true;
}

bool ChildProcess::WaitForExit(DWORD timeout_ms) {
  return process_ != nullptr && WaitForSingleObject(process_, timeout_ms) == WAIT_OBJECT_0;
}

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> list;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return list;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    list.push_back({entry.th32ProcessID, entry.szExeFile});
  CloseHandle(snapshot);
  return list;
}

bool IsProcessListed(DWORD pid) {
  for (const ProcessEntry& entry : ListProcesses())
    if (entry.pid == pid) return true;
  return false;
}

bool WaitUntilNotListed(DWORD pid, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  while (IsProcessListed(pid)) {
    if (GetTickCount() - start > timeout_ms) return false;
    Sleep(20);
  }
  return true;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

tmn::WideString MakeWide(const std::wstring& text) {
  tmn::WideString s;
  s.Assign(text.c_str(), text.size());
  return s;
}

std::wstring Text(const tmn::WideString& text) { return std::wstring(text.Get(), text.Length()); }

}  // namespace tmtest
