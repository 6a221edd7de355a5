// The short description of the running Windows that reports carry, such as
// "win6.1.sp1": the version Windows reports, raised to the version of the
// kernel file when that is newer.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "base/wide_string.h"
#include "base/windows_version.h"

namespace tmn {

// The text a report starts from: kept when the version cannot be read.
constexpr wchar_t kUndescribedSystem[] = L"win";

// Sets description to "win%d.%d.sp%d" of major, minor and service pack;
// leaves it as it was when the version cannot be read at all. Each report
// describes the system for itself.
void DescribeOperatingSystem(WideString* description, VersionQuery query = ::GetVersionExW);

// Raises the record to the kernel file's major and minor version, never
// lowers it; true when it raised it.
bool CorrectVersionFromKernel(OSVERSIONINFOEXW* record);

// Replaces a token ("@" and a folder name, or "systemroot") by the folder it
// names; true when that folder is not empty. A token that names nothing is
// left alone; one that names an empty folder becomes empty.
bool ExpandFolderToken(WideString* token);

// The current user's "Shell Folders" value of that name, else the folder of
// that name in the table of known folders.
bool GetNamedShellFolder(const wchar_t* name, WideString* out);

// The current user's "Shell Folders" value: out takes what was read (up to
// 259 characters) whether or not the read succeeded.
bool ReadShellFolderValue(const wchar_t* name, WideString* out);

// The text of a folder buffer (what such a read delivered) up to its first
// NUL, and never more than 259 characters: a value that fills the whole
// buffer has no NUL in it.
constexpr DWORD kFolderChars = MAX_PATH;  // 260
bool AssignFolderText(const wchar_t (&buffer)[kFolderChars], WideString* out);

// The "CSDVersion" value: the service pack in its second byte.
bool ReadServicePackLevel(DWORD* out);

struct ShellFolderRow {
  const wchar_t* name;
  int folder;  // CSIDL_ and the name
};
constexpr size_t kShellFolderRows = 25;
extern const ShellFolderRow kShellFolderTable[kShellFolderRows];

}  // namespace tmn
