// What the tests share: the host's stack and variables as NSIS lays them
// out, temporary folders, and helper processes to end or look for.
#pragma once

#include <windows.h>

#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "base/wide_string.h"

namespace tmtest {

// Whether the Wine prefix the test runs in reports Windows before 6.0, as
// its kind (TM_WINE_KIND, set by CTest) says: xp64 and win32 do, main does
// not. Tests compare what the code decided with this, never with the
// code's own version test.
bool PrefixIsPreVista();

// Folder of the running test program; helpers are built beside it.
std::wstring TestBinDir();
std::wstring HelperPath(const wchar_t* name);
// The built plug-in of the flavour folder given (x86-ansi, x86-unicode).
std::wstring PluginDllPath(const wchar_t* folder = L"x86-ansi");

// The installer's stack node in the host's character type, as the host
// lays it out.
template <typename CharT>
struct HostNode {
  HostNode* next;
  CharT text[1];
};

inline size_t TextLength(const char* text, size_t most) { return strnlen(text, most); }
inline size_t TextLength(const wchar_t* text, size_t most) { return wcsnlen(text, most); }

// The installer stack: nodes from GlobalAlloc of the node and string_size
// characters, as the host makes them. Whatever is left is freed at the end.
template <typename CharT>
class BasicHostStack {
 public:
  using Text = std::basic_string<CharT>;
  explicit BasicHostStack(int string_size) : string_size_(string_size) {}
  ~BasicHostStack() {
    while (Pop(nullptr)) {
    }
  }
  BasicHostStack(const BasicHostStack&) = delete;
  BasicHostStack& operator=(const BasicHostStack&) = delete;

  // Pushes text cut to string_size - 1 characters, as the host does.
  void Push(const Text& text) {
    Node* node = NewNode();
    text.copy(node->text, text.size() < Slot() ? text.size() : Slot() - 1);
  }
  // Pushes a node whose text fills all string_size characters with the
  // pattern repeated, with no NUL.
  void PushUnterminated(const Text& pattern) {
    Node* node = NewNode();
    for (size_t i = 0; i < Slot(); ++i) node->text[i] = pattern[i % pattern.size()];
  }
  // Pops the top text (text may be null); false when the stack is empty.
  bool Pop(Text* text) {
    if (top_ == nullptr) return false;
    Node* node = top_;
    if (text != nullptr) text->assign(node->text, TextLength(node->text, Slot()));
    top_ = node->next;
    GlobalFree(node);
    return true;
  }
  std::vector<Text> Texts() const {  // top first
    std::vector<Text> texts;
    for (Node* node = top_; node != nullptr; node = node->next)
      texts.emplace_back(node->text, TextLength(node->text, Slot()));
    return texts;
  }
  template <typename Frame>
  Frame** top() {
    return reinterpret_cast<Frame**>(&top_);
  }
  int string_size() const { return string_size_; }

 private:
  using Node = HostNode<CharT>;
  size_t Slot() const { return static_cast<size_t>(string_size_); }
  Node* NewNode() {
    auto* node = static_cast<Node*>(GlobalAlloc(GPTR, sizeof(Node) + Slot() * sizeof(CharT)));
    node->next = top_;
    top_ = node;
    return node;
  }
  int string_size_;
  Node* top_ = nullptr;
};
using HostStack = BasicHostStack<char>;

// The host's variable array ending right at a no-access page: with the
// 11 slots up to $R0, slot 10 is the last one, so a write past it faults
// at once. Every byte starts as 0xbd.
class GuardedBlock {
 public:
  explicit GuardedBlock(size_t bytes);
  ~GuardedBlock();
  GuardedBlock(const GuardedBlock&) = delete;
  GuardedBlock& operator=(const GuardedBlock&) = delete;
  void* get() { return start_; }

 private:
  void* block_ = nullptr;
  void* start_ = nullptr;
};

template <typename CharT>
class BasicGuardedVariables {
 public:
  explicit BasicGuardedVariables(int string_size, int slots = 11)
      : string_size_(string_size), block_(static_cast<size_t>(slots) * string_size * sizeof(CharT)) {}
  CharT* get() { return static_cast<CharT*>(block_.get()); }
  CharT* slot(int index) { return get() + index * string_size_; }

 private:
  int string_size_;
  GuardedBlock block_;
};
using GuardedVariables = BasicGuardedVariables<char>;

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
