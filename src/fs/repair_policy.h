// When a refused step of a deletion is handed to a repair of the entry's
// ownership and access: only when it was refused for access (an entry in
// use, or a folder that still holds something, is not made deletable by
// rewriting its access list), only for the entry that was checked, and
// never for a file with a second name, whose access list is also that of
// its name elsewhere, outside what was asked to go.
#pragma once

#include <windows.h>

#include "fs/checked_open.h"

namespace tmn {

// A step of deleting an entry that was refused.
enum class RefusedStep { kClearReadOnly, kDeleteFile, kRemoveFolder };

// Called with the refused entry reopened for READ_CONTROL | WRITE_DAC |
// WRITE_OWNER relative to its checked folder and checked again; true when
// the step is to be tried once more.
struct RefusedDeleteHook {
  bool (*repair)(void* context, HANDLE entry, RefusedStep step);
  void* context;
};

// Hands the entry to the hook when the policy allows it; true when the
// step is to be tried once more. hook may be null.
bool RepairRefusedStep(const ExpectedEntry& entry, RefusedStep step, NTSTATUS refusal, const RefusedDeleteHook* hook);

}  // namespace tmn
