#include "removal/folder_walk.h"

#include <string.h>

#include "base/heap.h"
#include "fs/checked_open.h"
#include "fs/folder_by_path.h"
#include "fs/tree_walk.h"
#include "removal/refused_link_log.h"
#include "security/system_writers.h"

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

// A listing through a handle leaves out "." and "..", which every folder
// below a volume's root holds and a listing by pattern showed first: the
// trace names them as before.
void TraceFolderStart(TraceOutput& output) {
  output.Line("First file name is ", L".", 1);
  output.Line("Next file name is ", L".", 1);
  output.Line("Next file name is ", L"..", 2);
}

struct SizeWalk {
  TraceOutput output;
  bool recursive;
  const HeldFolder* root;
  uint64_t size;
};

HRESULT CountEntry(void* context, void*, const ListedEntry& entry) {
  SizeWalk& walk = *static_cast<SizeWalk*>(context);
  walk.output.Line("Next file name is ", entry.name, entry.nameLength);
  if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) walk.size += entry.size;
  return S_OK;
}

// Depth first, as a recursive walk would list it. A folder that fails its
// checks (a link planted since the listing) is not entered. Each folder
// entered is kept in a block of its own: those below it name it as the
// folder above them.
HRESULT EnterCounted(void* context, void* folder, const ListedEntry& entry, void** child, HANDLE* handle) {
  SizeWalk& walk = *static_cast<SizeWalk*>(context);
  walk.output.Line("Next file name is ", entry.name, entry.nameLength);
  if (!walk.recursive) return S_OK;
  HeldFolder* below = HeapNew<HeldFolder>();
  if (below == nullptr) return S_OK;
  if (FAILED(OpenCheckedChild(*static_cast<const HeldFolder*>(folder), entry, kListingAccess, NameKept::kBelowParent,
                              below))) {
    HeapDelete(below);
    return S_OK;
  }
  TraceFolderStart(walk.output);
  *child = below;
  *handle = below->handle.get();
  return S_OK;
}

HRESULT LeaveCounted(void* context, void* folder, HRESULT) {
  if (folder != static_cast<SizeWalk*>(context)->root) HeapDelete(static_cast<HeldFolder*>(folder));
  return S_OK;
}

}  // namespace

uint64_t WalkFolder(const WideString& folder, bool recursive, bool trace) {
  HeldPath root;
  SizeWalk walk{TraceOutput(trace), recursive, &root.folder, 0};
  SystemRule rule;
  WideString refusedLink;
  if (FAILED(LogRefusedLink(OpenFolderByPath(folder, rule.Links(), &root, &refusedLink), refusedLink))) return 0;
  TraceFolderStart(walk.output);
  WalkTree(&root.folder, root.folder.handle.get(), TreeWalk{&walk, CountEntry, EnterCounted, LeaveCounted});
  return walk.size;
}

}  // namespace tmn
