// Ownership and access repair of files and folders: making an object
// deletable after a refusal, replacing an access list by a short list of
// entries, and opening a new folder to the local users on older Windows.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/wide_string.h"

namespace tmn {

struct DaclEntry {
  PSID sid;
  bool allow;  // false: a deny entry
  DWORD accessMask;
  uint8_t aceFlags;
};

// How a rewrite ended. kNotBuilt: the new list could not be built (out of
// memory, or the system refused to assemble it); buildError says why.
enum class DaclWrite { kWritten, kFailed, kNotBuilt };

// Replaces the object's access list by the entries, denies before allows.
// On kFailed the Windows error of the failing call is the last error.
DaclWrite RewriteDacl(const wchar_t* path, const DaclEntry* entries, size_t count,
                      HRESULT* buildError = nullptr);

// Strips deny entries, gives System and Administrators full control and
// Users nothing, protects the list, with ownership taken by Administrators
// for the write and given back. 1: retry the refused step; 0: not repaired.
int RepairAccess(const WideString& path);

// Gives the local users group full control of a folder on Windows before
// 6.0; S_OK without doing anything on 6.0 and later.
HRESULT GrantUsersFullControl(const wchar_t* path);

// Only for RepairAccess; exposed for tests.
bool EnableTakeOwnership(HANDLE process);
// The SID of the local Administrators group, looked up by name, in a block
// of the process heap that the caller frees.
bool GetAdministratorsSid(PSID* sid);
// Takes one backslash out of every doubled pair left by joining a root
// that ends in a backslash. A leading UNC or long-path prefix is kept.
void CollapseBackslashes(WideString& path);

}  // namespace tmn
