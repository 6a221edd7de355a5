#include "fs/repair_policy.h"

#include "fs/folder_listing.h"

namespace tmn {

bool RepairRefusedStep(const ExpectedEntry& entry, RefusedStep step, HRESULT refusal, const RefusedEntry& known,
                       const RefusedDeleteHook* hook) {
  if (hook == nullptr || refusal != E_ACCESSDENIED || entry.listedAsLink || known.links > 1) return false;
  if (known.folder) {
    // What a folder still holds may have other names outside the tree.
    ListingBuffer buffer;
    ListedEntry first;
    if (known.listing == nullptr || LookIn(known.listing, &buffer, nullptr, 0, &first) != S_FALSE) return false;
  }
  return hook->repair(hook->context, entry, step);
}

bool MayRewriteAccessOf(const OpenedFacts& facts) { return facts.IsFolder() || facts.Info().numberOfLinks <= 1; }

}  // namespace tmn
