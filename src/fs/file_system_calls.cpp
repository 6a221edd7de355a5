#include "fs/file_system_calls.h"

namespace tmn {

const FileSystemCalls kWindowsFileSystem = {
    ::GetNamedSecurityInfoW,    ::SetNamedSecurityInfoW,   ::GetFileAttributesW,
    ::CreateFileW,              CallNtCreateFile,          CallNtQueryDirectoryFile,
    CallNtQueryInformationFile, CallNtSetInformationFile, ::GetFileInformationByHandle,
    ::GetSecurityInfo,          ::SetSecurityInfo,         ::SetKernelObjectSecurity,
    ::CreateThread,
};

FileSystemCalls g_fileSystem = kWindowsFileSystem;

}  // namespace tmn
