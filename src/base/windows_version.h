// The version of the running Windows, read in one place: the extended
// record where the system knows it, the plain one where it does not. And
// which family runs: version 6 (Vista) and later, or the older systems
// before it, where several operations behave differently.
#pragma once

#include <windows.h>

namespace tmn {

using VersionQuery = BOOL(WINAPI*)(OSVERSIONINFOW* record);
using VersionQueryAnsi = BOOL(WINAPI*)(OSVERSIONINFOA* record);

// Fills the extended record (284 bytes); where the system refuses it, the
// plain record (276 bytes) with the extended fields 0. False when both are
// refused, and the record is then zero apart from its size field.
bool ReadWindowsVersion(OSVERSIONINFOEXW* record, VersionQuery query = ::GetVersionExW);

// The same through the ANSI call, which answers on every Windows, also
// where the wide one is missing.
bool ReadWindowsVersionAnsi(OSVERSIONINFOEXA* record, VersionQueryAnsi query = ::GetVersionExA);

// True on Windows before 6.0, and when the version cannot be read.
bool IsPreVistaWindows();

}  // namespace tmn
