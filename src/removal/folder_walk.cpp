#include "removal/folder_walk.h"

#include <string.h>

#include "base/array.h"
#include "base/unique.h"
#include "fs/file_system_calls.h"
#include "fs/path_operations.h"

namespace tmn {

namespace {

// Trace lines gathered and written in blocks: one write per entry would
// cost a system call per file.
class TraceOutput {
 public:
  explicit TraceOutput(bool on) : out_(on ? ::GetStdHandle(STD_OUTPUT_HANDLE) : nullptr) {
    if (out_ == INVALID_HANDLE_VALUE) out_ = nullptr;
  }
  ~TraceOutput() { Flush(); }
  TraceOutput(const TraceOutput&) = delete;
  TraceOutput& operator=(const TraceOutput&) = delete;

  void Line(const char* prefix, const wchar_t* name) {
    if (out_ == nullptr) return;
    const size_t prefixBytes = strlen(prefix);
    size_t nameChars = 0;
    while (nameChars < MAX_PATH && name[nameChars] != L'\0') ++nameChars;
    if (sizeof(buffer_) - used_ < prefixBytes + kMaxNameBytes + 1) Flush();
    memcpy(buffer_ + used_, prefix, prefixBytes);
    used_ += prefixBytes;
    if (nameChars > 0)
      used_ += static_cast<size_t>(::WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(nameChars),
                                                         buffer_ + used_, static_cast<int>(kMaxNameBytes),
                                                         nullptr, nullptr));
    buffer_[used_++] = '\n';
  }

 private:
  // A listed name has fewer than MAX_PATH characters, at most 3 bytes each.
  static constexpr size_t kMaxNameBytes = 3 * MAX_PATH;

  void Flush() {
    if (out_ != nullptr && used_ > 0) {
      DWORD written = 0;
      ::WriteFile(out_, buffer_, static_cast<DWORD>(used_), &written, nullptr);
    }
    used_ = 0;
  }

  HANDLE out_;
  char buffer_[4096];
  size_t used_ = 0;
};

struct OpenListing {
  WideString folder;
  UniqueFind find;
};

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Opens the listing of folder; data receives its first entry.
bool OpenListingOf(WideString&& folder, WIN32_FIND_DATAW* data, Array<OpenListing>& open) {
  WideString pattern;
  if (!JoinName(folder, L"*", &pattern)) return false;
  UniqueFind find(g_fileSystem.findFirstFile(pattern.Get(), data));
  if (!find) return false;
  OpenListing listing{static_cast<WideString&&>(folder), static_cast<UniqueFind&&>(find)};
  return open.Push(static_cast<OpenListing&&>(listing));
}

}  // namespace

FolderWalk WalkFolder(const WideString& folder, bool recursive, bool trace) {
  FolderWalk walk;
  TraceOutput output(trace);
  WIN32_FIND_DATAW data;
  Array<OpenListing> open;
  WideString root;
  if (!root.Assign(folder) || !OpenListingOf(static_cast<WideString&&>(root), &data, open)) {
    walk.complete = false;  // nothing of it was seen, links included
    return walk;
  }
  output.Line("First file name is ", data.cFileName);
  for (;;) {
    output.Line("Next file name is ", data.cFileName);
    const DWORD attributes = data.dwFileAttributes;
    bool entered = false;
    if (!IsDotOrDotDot(data.cFileName)) {
      if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) walk.holdsLink = true;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        walk.size += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      } else if (recursive && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        // Depth first, as a recursive walk would list it.
        WideString child;
        entered = JoinName(open.Back().folder, data.cFileName, &child) &&
                  OpenListingOf(static_cast<WideString&&>(child), &data, open);
        if (entered)
          output.Line("First file name is ", data.cFileName);
        else
          walk.complete = false;
      }
    }
    if (entered) continue;
    while (!open.IsEmpty() && !g_fileSystem.findNextFile(open.Back().find.get(), &data)) open.PopBack();
    if (open.IsEmpty()) break;
  }
  return walk;
}

}  // namespace tmn
