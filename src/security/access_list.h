// Access lists written whole: replacing an object's list by a short list of
// entries, and opening a new folder to the local users on older Windows.
#pragma once

#include <windows.h>
#include <stdint.h>

namespace tmn {

// A well-known SID built in place: the names of accounts change with the
// language of Windows, their SIDs do not.
class WellKnownSid {
 public:
  bool Make(WELL_KNOWN_SID_TYPE type);
  PSID Get() { return sid_; }

 private:
  BYTE sid_[SECURITY_MAX_SID_SIZE];
};

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
// The same through the object's handle, opened with READ_CONTROL and
// WRITE_DAC: the list goes to the object that was opened, whatever its
// name leads to by now.
DaclWrite RewriteDaclOf(HANDLE object, const DaclEntry* entries, size_t count, HRESULT* buildError = nullptr);

// Gives the local users group full control of a folder the product has just
// made, through the handle it was made with, on Windows before 6.0; S_OK
// without doing anything on 6.0 and later. S_FALSE when the new list could
// not be built, a failure when it could not be written.
HRESULT GrantUsersFullControl(HANDLE folder);

}  // namespace tmn
