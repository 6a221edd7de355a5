// What the tests share: the host's stack and variables as NSIS lays them
// out, temporary folders, and helper processes to end or look for.
#pragma once

#include <windows.h>

#include <string>
#include <type_traits>
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
// The plug-in a test program of this machine loads unless it names
// another folder (x86-unicode, ...).
#ifdef _WIN64
constexpr wchar_t kOwnPluginFolder[] = L"amd64-unicode";
#else
constexpr wchar_t kOwnPluginFolder[] = L"x86-ansi";
#endif
std::wstring PluginDllPath(const wchar_t* folder = kOwnPluginFolder);
// Whether Windows itself is 64-bit, whatever this program's own bitness.
bool WindowsIs64Bit();

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);
// UTF-8 texts in and out of the host's character type; char texts pass as they are.
inline void FromUtf8(const std::string& text, std::string* host) { *host = text; }
inline void FromUtf8(const std::string& text, std::wstring* host) { *host = Widen(text); }
inline std::string ToUtf8(const std::string& host) { return host; }
inline std::string ToUtf8(const std::wstring& host) { return Narrow(host); }

// The installer stack of the host's node type (the next node, then
// string_size characters): nodes from GlobalAlloc, as the host makes them.
// Texts go in and out as UTF-8. Whatever is left is freed at the end.
template <typename Node>
class BasicHostStack {
 public:
  using Char = std::remove_extent_t<decltype(Node::text)>;
  explicit BasicHostStack(int string_size) : string_size_(string_size) {}
  ~BasicHostStack() {
    while (Pop(nullptr)) {
    }
  }
  BasicHostStack(const BasicHostStack&) = delete;
  BasicHostStack& operator=(const BasicHostStack&) = delete;

  // Pushes text cut to string_size - 1 characters, as the host does.
  void Push(const std::string& text) {
    std::basic_string<Char> host;
    FromUtf8(text, &host);
    host.copy(NewNode()->text, host.size() < Slot() ? host.size() : Slot() - 1);
  }
  // Pushes a node whose text fills all string_size characters with the
  // pattern repeated, with no NUL.
  void PushUnterminated(const std::string& pattern) {
    std::basic_string<Char> host;
    FromUtf8(pattern, &host);
    Node* node = NewNode();
    for (size_t i = 0; i < Slot(); ++i) node->text[i] = host[i % host.size()];
  }
  // Pops the top text (text may be null); false when the stack is empty.
  bool Pop(std::string* text) {
    if (top_ == nullptr) return false;
    Node* node = top_;
    if (text != nullptr) *text = TextOf(node);
    top_ = node->next;
    GlobalFree(node);
    return true;
  }
  std::vector<std::string> Texts() const {  // top first
    std::vector<std::string> texts;
    for (Node* node = top_; node != nullptr; node = node->next) texts.push_back(TextOf(node));
    return texts;
  }
  Node** top() { return &top_; }
  int string_size() const { return string_size_; }

 private:
  size_t Slot() const { return static_cast<size_t>(string_size_); }
  Node* NewNode() {
    auto* node = static_cast<Node*>(GlobalAlloc(GPTR, sizeof(Node) + Slot() * sizeof(Char)));
    node->next = top_;
    top_ = node;
    return node;
  }
  std::string TextOf(const Node* node) const {
    size_t n = 0;
    while (n < Slot() && node->text[n] != 0) ++n;
    return ToUtf8(std::basic_string<Char>(node->text, n));
  }
  int string_size_;
  Node* top_ = nullptr;
};

// Pages of memory ending right at a no-access page, every byte 0xbd.
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

// The host's variable array ending right at the no-access page: with the
// 11 slots up to $R0, slot 10 is the last one, so a write past it faults.
template <typename Char>
class BasicGuardedVariables {
 public:
  explicit BasicGuardedVariables(int string_size, int slots = 11)
      : string_size_(string_size), block_(static_cast<size_t>(slots) * string_size * sizeof(Char)) {}
  Char* get() { return static_cast<Char*>(block_.get()); }
  Char* slot(int index) { return get() + index * string_size_; }
  std::string text(int index) { return ToUtf8(std::basic_string<Char>(slot(index))); }

 private:
  int string_size_;
  GuardedBlock block_;
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
// Gives Everyone full access to the file or folder, as any user may do to
// what they own; Wine keeps it in the Unix mode bits.
bool GrantEveryoneFullAccess(const std::wstring& path);

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

// Between the system's wide string and the standard one.
tmn::WideString MakeWide(const std::wstring& text);
std::wstring Text(const tmn::WideString& text);

}  // namespace tmtest
