#include "fs/folder_chain.h"

#include <utility>

#include "base/result.h"
#include "fs/entry_delete.h"
#include "fs/folder_by_path.h"

namespace tmn {

namespace {

// What the made folder's handle carries besides listing: its attributes,
// and its access list for whoever opens it to the users.
constexpr ACCESS_MASK kMadeAccess = FILE_WRITE_ATTRIBUTES | READ_CONTROL | WRITE_DAC;

}  // namespace

HRESULT CreateFolderChain(const WideString& path, const LinkTrust* trust, UniqueFile* made) {
  PathWalk walk(trust);
  RETURN_IF_FAILED(walk.Begin(path));
  HRESULT result = S_FALSE;
  DeletionRun run;
  while (!walk.PassedAll()) {
    FoundEntry entry;
    const HRESULT found = walk.Look(&entry);
    bool missing = found == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || found == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    if (!missing) RETURN_IF_FAILED(found);
    if (!missing && !entry.IsFolder() && !entry.IsLink()) {
      const EntryToDelete file{{&walk.Folder(), entry.name.Get(), entry.name.Length(), entry.fileId, false, false},
                               EntryKind::kFile,
                               false};
      RETURN_IF_FAILED(DeleteEntry(file, run));
      missing = true;
    }
    if (!missing) {
      RETURN_IF_FAILED(walk.Enter(entry));
      continue;
    }
    RETURN_IF_FAILED(walk.Make(kMadeAccess));
    SetAttributesOf(walk.Folder().handle.get(), FILE_ATTRIBUTE_NORMAL);
    result = S_OK;
  }
  RETURN_IF_FAILED(walk.Confirm());
  if (result == S_OK && made != nullptr) *made = std::move(walk.Folder().handle);
  return result;
}

}  // namespace tmn
