// The ntdll calls that act on a file through a handle: opening an entry
// relative to its folder's handle, listing a folder through its handle, and
// reading or setting what the handle refers to. Every Windows since XP has
// them in ntdll; they are found with GetProcAddress, as the headers of the
// C runtime's import libraries leave most of them out.
#pragma once

#include <windows.h>
#include <winternl.h>
#include <stddef.h>
#include <stdint.h>

namespace tmn {

constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kStatusNotImplemented = static_cast<NTSTATUS>(0xC0000002);
constexpr NTSTATUS kStatusInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kStatusNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
constexpr NTSTATUS kStatusAccessDenied = static_cast<NTSTATUS>(0xC0000022);
constexpr NTSTATUS kStatusObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kStatusObjectNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS kStatusObjectPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kStatusSharingViolation = static_cast<NTSTATUS>(0xC0000043);
constexpr NTSTATUS kStatusDeletePending = static_cast<NTSTATUS>(0xC0000056);
constexpr NTSTATUS kStatusNotSupported = static_cast<NTSTATUS>(0xC00000BB);
constexpr NTSTATUS kStatusDirectoryNotEmpty = static_cast<NTSTATUS>(0xC0000101);
// A success status: the entry opened, but another process's oplock on it
// is being broken.
constexpr NTSTATUS kStatusOplockBreakInProgress = static_cast<NTSTATUS>(0x00000108);

constexpr ULONG kFileOpen = 1;                      // FILE_OPEN
constexpr ULONG kFileCreate = 2;                    // FILE_CREATE
constexpr ULONG kFileDirectoryFile = 0x1;           // FILE_DIRECTORY_FILE
constexpr ULONG kFileSynchronousIoNonAlert = 0x20;  // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG kFileNonDirectoryFile = 0x40;       // FILE_NON_DIRECTORY_FILE
constexpr ULONG kFileCompleteIfOplocked = 0x100;    // FILE_COMPLETE_IF_OPLOCKED
constexpr ULONG kFileOpenForBackupIntent = 0x4000;  // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG kFileOpenReparsePoint = 0x200000;   // FILE_OPEN_REPARSE_POINT

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

constexpr FILE_INFORMATION_CLASS kFileBasicInformation = static_cast<FILE_INFORMATION_CLASS>(4);
constexpr FILE_INFORMATION_CLASS kFileNameInformation = static_cast<FILE_INFORMATION_CLASS>(9);
constexpr FILE_INFORMATION_CLASS kFileDispositionInformation = static_cast<FILE_INFORMATION_CLASS>(13);
constexpr FILE_INFORMATION_CLASS kFileAllInformation = static_cast<FILE_INFORMATION_CLASS>(18);
constexpr FILE_INFORMATION_CLASS kFileAttributeTagInformation = static_cast<FILE_INFORMATION_CLASS>(35);
constexpr FILE_INFORMATION_CLASS kFileIdBothDirectoryInformation = static_cast<FILE_INFORMATION_CLASS>(37);
constexpr FILE_INFORMATION_CLASS kFileDispositionInformationEx = static_cast<FILE_INFORMATION_CLASS>(64);

// FILE_DISPOSITION_INFORMATION_EX: the name goes at once (POSIX), read-only
// or not. Windows 10 1809 and later, on NTFS.
constexpr ULONG kDispositionDelete = 0x1;
constexpr ULONG kDispositionPosixSemantics = 0x2;
constexpr ULONG kDispositionIgnoreReadOnly = 0x10;

// FILE_ID_BOTH_DIR_INFORMATION. For a reparse point EaSize holds its tag.
struct NtDirectoryEntry {
  ULONG nextEntryOffset;
  ULONG fileIndex;
  LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime;
  LARGE_INTEGER endOfFile, allocationSize;
  ULONG fileAttributes;
  ULONG fileNameLength;  // bytes
  ULONG eaSizeOrReparseTag;
  CCHAR shortNameLength;
  WCHAR shortName[12];
  LARGE_INTEGER fileId;
  WCHAR fileName[1];
};
static_assert(offsetof(NtDirectoryEntry, fileId) == 96, "FILE_ID_BOTH_DIR_INFORMATION layout");
static_assert(offsetof(NtDirectoryEntry, fileName) == 104, "FILE_ID_BOTH_DIR_INFORMATION layout");

// FILE_ALL_INFORMATION up to the name: what one query tells of an opened
// entry (attributes, names, id, and the name the handle reached).
struct NtAllInformation {
  LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime;
  ULONG fileAttributes;
  LARGE_INTEGER allocationSize, endOfFile;
  ULONG numberOfLinks;
  BOOLEAN deletePending, directory;
  LARGE_INTEGER indexNumber;  // FileInternalInformation
  ULONG eaSize;
  ACCESS_MASK accessFlags;
  LARGE_INTEGER currentByteOffset;
  ULONG mode;
  ULONG alignmentRequirement;
  ULONG fileNameLength;  // bytes
  WCHAR fileName[1];
};
static_assert(offsetof(NtAllInformation, allocationSize) == 40, "FILE_ALL_INFORMATION layout");
static_assert(offsetof(NtAllInformation, indexNumber) == 64, "FILE_ALL_INFORMATION layout");
static_assert(offsetof(NtAllInformation, fileNameLength) == 96, "FILE_ALL_INFORMATION layout");

struct NtBasicInformation {
  LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime;
  ULONG fileAttributes;
};

using NtCreateFileCall = NTSTATUS(NTAPI*)(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                                          PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation, ULONG attributes,
                                          ULONG share, ULONG disposition, ULONG options, PVOID ea, ULONG eaLength);
using NtQueryDirectoryFileCall = NTSTATUS(NTAPI*)(HANDLE folder, HANDLE event, PVOID apc, PVOID apcContext,
                                                  PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                                                  FILE_INFORMATION_CLASS kind, BOOLEAN single,
                                                  PUNICODE_STRING mask, BOOLEAN restart);
using NtFileInformationCall = NTSTATUS(NTAPI*)(HANDLE file, PIO_STATUS_BLOCK status, PVOID information,
                                               ULONG length, FILE_INFORMATION_CLASS kind);

// Callers of the ntdll entry points; kStatusNotImplemented where ntdll lacks one.
NTSTATUS NTAPI CallNtCreateFile(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                                PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation, ULONG attributes, ULONG share,
                                ULONG disposition, ULONG options, PVOID ea, ULONG eaLength);
NTSTATUS NTAPI CallNtQueryDirectoryFile(HANDLE folder, HANDLE event, PVOID apc, PVOID apcContext,
                                        PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                                        FILE_INFORMATION_CLASS kind, BOOLEAN single, PUNICODE_STRING mask,
                                        BOOLEAN restart);
NTSTATUS NTAPI CallNtQueryInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                                          FILE_INFORMATION_CLASS kind);
NTSTATUS NTAPI CallNtSetInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                                        FILE_INFORMATION_CLASS kind);

// RtlEqualUnicodeString: the comparison the file system itself makes of
// names, letter case aside when caseInsensitive. False where ntdll lacks it
// and the texts differ.
BOOLEAN NTAPI CallRtlEqualUnicodeString(const UNICODE_STRING* a, const UNICODE_STRING* b, BOOLEAN caseInsensitive);

// The Win32 error an NTSTATUS stands for, as an HRESULT (RtlNtStatusToDosError).
HRESULT HResultFromNtStatus(NTSTATUS status);

}  // namespace tmn
