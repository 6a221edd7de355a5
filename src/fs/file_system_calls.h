// The file and named-security calls of the tree walker, the deleter and the
// access repair, reached through one table so that tests can make Windows
// refuse what Wine will not (a delete, a removal, an attribute change, a
// listing, a security read or write).
#pragma once

#include <windows.h>
#include <aclapi.h>

namespace tmn {

struct FileSystemCalls {
  HANDLE(WINAPI* findFirstFile)(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
  BOOL(WINAPI* findNextFile)(HANDLE find, LPWIN32_FIND_DATAW data);
  BOOL(WINAPI* deleteFile)(LPCWSTR path);
  BOOL(WINAPI* removeDirectory)(LPCWSTR path);
  BOOL(WINAPI* setFileAttributes)(LPCWSTR path, DWORD attributes);
  DWORD(WINAPI* getNamedSecurityInfo)(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                                      PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                      PSECURITY_DESCRIPTOR* descriptor);
  DWORD(WINAPI* setNamedSecurityInfo)(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                                      PSID owner, PSID group, PACL dacl, PACL sacl);
};

// The Windows functions themselves, unless a test has put others in.
extern FileSystemCalls g_fileSystem;
extern const FileSystemCalls kWindowsFileSystem;

}  // namespace tmn
