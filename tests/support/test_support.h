// What the tests share: the host's stack and variables as NSIS lays them
// out, temporary folders, and helper processes to end or look for.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "plugin/frame.h"

namespace tmtest {

// Whether the Wine prefix the test runs in reports Windows before 6.0, as
// its kind (TM_WINE_KIND, set by CTest) says: xp64 and win32 do, main does
// not. Tests compare what the code decided with this, never with the
// code's own version test.
bool PrefixIsPreVista();

// Folder of the running test program; helpers are built beside it.
std::wstring TestBinDir();
std::wstring HelperPath(const wchar_t* name);
std::wstring PluginDllPath();

// The installer stack: nodes from GlobalAlloc of 4 + string_size bytes, as
// the host makes them. Whatever is left is freed at the end.
class HostStack {
 public:
  explicit HostStack(int string_size) : string_size_(string_size) {}
  ~HostStack();
  HostStack(const HostStack&) = delete;
  HostStack& operator=(const HostStack&) = delete;

  // Pushes text cut to string_size - 1 characters, as the host does.
  void Push(const std::string& text);
  // Pushes a node whose text fills all string_size bytes, with no NUL.
  void PushUnterminated(char fill);
  // Pops the top text (text may be null); false when the stack is empty.
  bool Pop(std::string* text);
  std::vector<std::string> Texts() const;  // top first
  stack_t** top() { return &top_; }
  int string_size() const { return string_size_; }

 private:
  int string_size_;
  stack_t* top_ = nullptr;
};

// The host's variable array ending right at a no-access page: slot 10
// ($R0) is the last slot, so a write past it faults at once.
class GuardedVariables {
 public:
  explicit GuardedVariables(int string_size);
  ~GuardedVariables();
  GuardedVariables(const GuardedVariables&) = delete;
  GuardedVariables& operator=(const GuardedVariables&) = delete;
  char* get() { return variables_; }
  char* slot(int index) { return variables_ + index * string_size_; }

 private:
  int string_size_;
  void* block_ = nullptr;
  char* variables_ = nullptr;
};

// A unique empty folder under the temporary folder, removed with all it
// holds at the end.
class TempDir {
 public:
  explicit TempDir(const wchar_t* tag = L"tmtest");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

bool WriteFileText(const std::wstring& path, const std::string& text);
bool FileExists(const std::wstring& path);

// A started program, ended at the end of the test if still running.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;

  bool Start(const std::wstring& exe, const std::wstring& arguments = L"");
  DWORD pid() const { return pid_; }
  HANDLE handle() const { return process_; }
  // Waits for the end; false when still running after timeout_ms.
  bool WaitForExit(DWORD timeout_ms);

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

struct ProcessEntry {
  DWORD pid;
  std::wstring name;
};
std::vector<ProcessEntry> ListProcesses();
bool IsProcessListed(DWORD pid);
// Waits until the process is gone from the snapshot.
bool WaitUntilNotListed(DWORD pid, DWORD timeout_ms);

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// Between the system's wide string and the standard one.
tmn::WideString MakeWide(const std::wstring& text);
std::wstring Text(const tmn::WideString& text);

}  // namespace tmtest
