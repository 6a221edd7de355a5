#include "removal/folder_walk.h"

#include <string.h>

#include <utility>

#include "base/array.h"
#include "base/heap.h"
#include "base/unique.h"
#include "fs/checked_open.h"
#include "fs/folder_by_path.h"
#include "fs/folder_listing.h"
#include "fs/link_checks.h"
#include "removal/refused_link_log.h"

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

// A folder held open while its listing is read. Kept in a block of its own:
// the folders below it name it as the folder above them.
struct OpenFolder {
  OpenFolder(HeldFolder* held, ListingBuffer* buffer) : folder(held), listing(held->handle.get(), buffer) {}
  HeldFolder* folder;
  HeldFolder below;  // the folder this one holds, when one is entered
  FolderListing listing;
};

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
  HeldPath root;
  WideString refusedLink;
  if (FAILED(LogRefusedLink(OpenFolderByPath(folder, &root, &refusedLink), refusedLink))) return size;
  ListingBuffer buffer;
  Array<OpenFolder*> open;
  const auto close = MakeScopeExit([&] {
    while (!open.IsEmpty()) {
      HeapDelete(open.Back());
      open.PopBack();
    }
  });
  OpenFolder* first = HeapNew<OpenFolder>(&root.folder, &buffer);
  if (first == nullptr || !open.Push(static_cast<OpenFolder*&&>(first))) {
    HeapDelete(first);
    return size;
  }
  TraceFolderStart(output);
  while (!open.IsEmpty()) {
    OpenFolder& level = *open.Back();
    ListedEntry entry;
    if (level.listing.Next(&entry) != S_OK) {
      HeapDelete(open.Back());
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
    if (FAILED(OpenCheckedChild(*level.folder, entry, kListingAccess, NameKept::kBelowParent, &level.below)) ||
        FAILED(level.listing.Park()))
      continue;
    OpenFolder* below = HeapNew<OpenFolder>(&level.below, &buffer);
    if (below == nullptr || !open.Push(static_cast<OpenFolder*&&>(below))) {
      HeapDelete(below);
      continue;
    }
    TraceFolderStart(output);
  }
  return size;
}

}  // namespace tmn
