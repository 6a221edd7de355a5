// Ownership and access repair: making a file or folder deletable after a
// delete, a removal or an attribute change was refused for access.
//
// Windows grants access when a handle is opened, and WRITE_DAC only to the
// owner: so the take-ownership privilege is enabled first, the entry opened
// for WRITE_OWNER (and READ_CONTROL, where its list allows it) relative to
// its checked folder, made the administrators', then opened again, relative
// to the same folder and checked as the first, for WRITE_DAC. The new list
// goes to the entry alone, through its handle: nothing of it passes to what
// a folder holds, and none of the entries it adds is inheritable. The former
// owner, when it could be read, is given back.
#pragma once

#include <windows.h>

#include "base/unique.h"
#include "fs/checked_open.h"

namespace tmn {

// Strips deny entries, gives System and Administrators full control and
// Users nothing, and protects the list from inheritance. 1: retry the
// refused step; 0: not repaired.
int RepairAccessOf(const ExpectedEntry& entry);

// The access list a repair writes: dacl's allow entries for anyone but
// System, Administrators and Users, after full control for System and
// Administrators, neither inheritable. Null when it cannot be built.
UniqueHeapBlock BuildRepairedDacl(PACL dacl);

// The privileges a repair needs, enabled while this lives and then set
// back as they were: take-ownership, and restore where the token holds it,
// which lets the former owner be given back.
class RepairPrivileges {
 public:
  RepairPrivileges();
  ~RepairPrivileges();
  RepairPrivileges(const RepairPrivileges&) = delete;
  RepairPrivileges& operator=(const RepairPrivileges&) = delete;

 private:
  struct Privileges {
    DWORD count;
    LUID_AND_ATTRIBUTES privileges[2];
  };
  UniqueHandle token_;
  Privileges previous_ = {};  // what the enabling changed
};

}  // namespace tmn
