// Ownership and access repair: making a file or folder deletable after a
// delete, a removal or an attribute change was refused.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/wide_string.h"

namespace tmn {

// Strips deny entries, gives System and Administrators full control and
// Users nothing, protects the list, with ownership taken by Administrators
// for the write and given back. 1: retry the refused step; 0: not repaired.
// Where the object reads as not found, its nearest ancestor that is found
// is used instead, but never one above boundary (the root of the tree being
// deleted): nothing outside it is read or rewritten.
int RepairAccess(const WideString& path, const WideString& boundary);

// The writes of a repair: the owner set to administrators, the protected
// access list, the former owner given back. Without an administrators' SID
// only the access list is written. 1 when it was written.
int WriteRepairedAccess(WideString& object, PACL dacl, PSID formerOwner, PSID administrators);

// Only for RepairAccess; exposed for tests.
bool EnableTakeOwnership(HANDLE process);
// The SID of the local Administrators group, looked up by name, in a block
// of the process heap that the caller frees.
bool GetAdministratorsSid(PSID* sid);
// Takes one backslash out of every doubled pair left by joining a root
// that ends in a backslash. A leading UNC or long-path prefix is kept.
void CollapseBackslashes(WideString& path);

}  // namespace tmn
