// Ownership and access repair: making a file or folder deletable after a
// delete, a removal or an attribute change was refused.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/wide_string.h"

namespace tmn {

// Strips deny entries, gives System and Administrators full control and
// Users nothing, protects the list, with ownership taken by Administrators
// for the write and given back: all on the entry's own handle, opened with
// READ_CONTROL, WRITE_DAC and WRITE_OWNER, never by path, so that what is
// repaired is the entry that was checked. The take-ownership privilege is
// enabled for the writes and set back as it was before this returns.
// 1: retry the refused step; 0: not repaired.
int RepairAccessOf(HANDLE entry);

// The writes of a repair: the owner set to administrators, the protected
// access list, the former owner given back. Without an administrators' SID
// only the access list is written. 1 when it was written.
int WriteRepairedAccess(HANDLE entry, PACL dacl, PSID formerOwner, PSID administrators);

// Only for RepairAccessOf; exposed for tests. previous, when not null,
// receives what the call changed, for RestorePrivileges.
bool EnableTakeOwnership(HANDLE process, TOKEN_PRIVILEGES* previous = nullptr);
void RestorePrivileges(HANDLE process, const TOKEN_PRIVILEGES& previous);
// The SID of the local Administrators group, looked up by name, in a block
// of the process heap that the caller frees.
bool GetAdministratorsSid(PSID* sid);

}  // namespace tmn
