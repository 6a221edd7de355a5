// Every file and security call of fs/, security/ and removal/ (the tree
// deleter, the folder walks, the link checks, folder chains and the access
// repair), reached through one table so that tests can make Windows
// refuse or show what Wine will not (a delete, a removal, an attribute
// change, a listing, a reparse point, a security read or write), and the
// start of the tree deleter's walker, which Wine never refuses.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include "fs/nt_calls.h"

namespace tmn {

struct FileSystemCalls {
  DWORD(WINAPI* getNamedSecurityInfo)(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                                      PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                      PSECURITY_DESCRIPTOR* descriptor);
  DWORD(WINAPI* setNamedSecurityInfo)(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                                      PSID owner, PSID group, PACL dacl, PACL sacl);
  DWORD(WINAPI* getFileAttributes)(LPCWSTR path);
  // Handle-level calls: a folder opened by path, entries opened relative to
  // it, listed, examined, changed and deleted through their handles.
  HANDLE(WINAPI* createFile)(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE model);
  NtCreateFileCall openRelative;
  NtQueryDirectoryFileCall queryDirectory;
  NtFileInformationCall queryInformation;
  NtFileInformationCall setInformation;
  BOOL(WINAPI* getFileInformationByHandle)(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
  DWORD(WINAPI* getSecurityInfo)(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                 PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
  DWORD(WINAPI* setSecurityInfo)(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                 PSID group, PACL dacl, PACL sacl);
  // Writes to the object alone, passing nothing on to what a folder holds.
  BOOL(WINAPI* setKernelObjectSecurity)(HANDLE object, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor);
  HANDLE(WINAPI* createThread)(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                               LPVOID parameter, DWORD flags, LPDWORD id);
};

// The Windows functions themselves, unless a test has put others in.
extern FileSystemCalls g_fileSystem;
extern const FileSystemCalls kWindowsFileSystem;

}  // namespace tmn
