#include "removal/folder_walk.h"

#include <string.h>

#include <utility>

#include "base/array.h"
#include "base/unique.h"
#include "fs/tree_delete.h"

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

  void Line(const char* prefix, const wchar_t* name, size_t nameChars) {
    if (out_ == nullptr) return;
    const size_t prefixBytes = strlen(prefix);
    if (nameChars > kMaxNameChars) nameChars = kMaxNameChars;
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
  // A listed name has at most 255 characters, at most 3 bytes each.
  static constexpr size_t kMaxNameChars = MAX_PATH;
  static constexpr size_t kMaxNameBytes = 3 * kMaxNameChars;

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

constexpr ACCESS_MASK kListingAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// A folder held open while its listing is read.
struct OpenFolder {
  HeldEntry folder;
  FolderListing listing;
};

bool PushFolder(HeldEntry&& folder, Array<OpenFolder>& open) {
  const HANDLE handle = folder.handle.get();
  OpenFolder opened{std::move(folder), FolderListing(handle)};
  return open.Push(std::move(opened));
}

// A listing through a handle leaves out "." and "..", which every folder
// below a volume's root holds and a listing by pattern showed first: the
// trace names them as before.
void TraceFolderStart(TraceOutput& output) {
  output.Line("First file name is ", L".", 1);
  output.Line("Next file name is ", L".", 1);
  output.Line("Next file name is ", L"..", 2);
}

}  // namespace

uint64_t WalkFolder(const WideString& folder, bool recursive, bool trace) {
  TraceOutput output(trace);
  uint64_t size = 0;
  Array<OpenFolder> open;
  HeldEntry root;
  if (FAILED(OpenFolderByPath(folder, &root)) || !PushFolder(std::move(root), open)) return size;
  TraceFolderStart(output);
  while (!open.IsEmpty()) {
    ListedEntry entry;
    if (open.Back().listing.Next(&entry) != S_OK) {
      open.PopBack();
      continue;
    }
    output.Line("Next file name is ", entry.name, entry.nameLength);
    if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      size += entry.size;
      continue;
    }
    if (!recursive || IsLinkEntry(entry.attributes, entry.reparseTag)) continue;
    // Depth first, as a recursive walk would list it. A folder that fails
    // its checks (a link planted since the listing) is not entered.
    HeldEntry child;
    if (SUCCEEDED(OpenCheckedChild(open.Back().folder, entry, kListingAccess, &child)) &&
        PushFolder(std::move(child), open))
      TraceFolderStart(output);
  }
  return size;
}

}  // namespace tmn
