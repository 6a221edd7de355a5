// When a refused step of a deletion is handed to a repair of the entry's
// ownership and access: only when it was refused for access (an entry in
// use, or a folder that still holds something, is not made deletable by
// rewriting its access list), only for the entry that was checked, a
// folder only while its listing shows it empty, and never a link or a file
// with a second name, whose access list is also that of its name elsewhere,
// outside what was asked to go.
#pragma once

#include <windows.h>

#include "fs/checked_open.h"

namespace tmn {

// A step of deleting an entry that was refused.
enum class RefusedStep { kClearReadOnly, kDeleteFile, kRemoveFolder };

// Called with the refused entry as its checked folder lists it: the repair
// opens it relative to that folder and checks it as any open is checked.
// True when the step is to be tried once more.
struct RefusedDeleteHook {
  bool (*repair)(void* context, const ExpectedEntry& entry, RefusedStep step);
  void* context;
};

// What is known of a refused entry: whether it is a folder, its names
// when its check read them (0: not known), and, for a folder, its own
// handle held since it was listed (null: a folder is not repaired).
struct RefusedEntry {
  bool folder;
  ULONG links;
  HANDLE listing;
};

// Hands the entry to the hook when the policy allows it; true when the
// step is to be tried once more. hook may be null.
bool RepairRefusedStep(const ExpectedEntry& entry, RefusedStep step, HRESULT refusal, const RefusedEntry& known,
                       const RefusedDeleteHook* hook);

// Whether the entry a repair opened may have its access rewritten: a
// folder, or a file of one name.
bool MayRewriteAccessOf(const OpenedFacts& facts);

}  // namespace tmn
