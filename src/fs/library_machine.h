// Whether a library file can be loaded into this process at all, and the
// flags a product library is loaded with (beacon/library_loading.h loads
// them). The product is 32-bit, but a 64-bit
// installer may find the product's libraries beside it, and the loader of
// either bitness refuses a library of the other one (or, on some systems,
// fails in ways a caller cannot tell from a missing file). A library of the
// other machine counts as missing: it is never handed to the loader.
//
// An elevated installer must not load code from folders its users write
// to. So a product library is loaded by its fully qualified path only,
// never by a name the system would look for, and, where Windows offers it
// (the search flags of Windows 8, or of Vista and 7 with update KB2533623),
// the imports of the library itself are looked for in its own folder and
// the system folder only, never in the current folder or PATH. Where
// Windows does not offer them (XP), the library is loaded with the altered
// search order: its imports are looked for in its own folder first, then
// in the system's usual places, which there include the current folder and
// PATH.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>


namespace tmn {

enum class LibraryMachine {
  kThisProcess,  // a PE image built for this process's machine
  kOther,        // a PE image built for another machine
  kUnreadable,   // no file, or not a PE image
};

// The machine this module was built for: IMAGE_FILE_MACHINE_I386 or
// IMAGE_FILE_MACHINE_AMD64.
uint16_t ThisProcessMachine();

// The machine named by an image's headers: dos is the file's first bytes
// (the DOS header), nt the bytes at the offset its e_lfanew gives (the "PE"
// signature and the file header).
LibraryMachine MachineOfImage(const uint8_t* dos, size_t dosBytes, const uint8_t* nt, size_t ntBytes);

// Where the NT headers start by a DOS header's e_lfanew; -1 when the bytes
// hold no DOS header or the offset lies beyond where Windows looks.
LONG NtHeadersOffset(const uint8_t* dos, size_t dosBytes);

// Reads the headers of the file at path.
LibraryMachine ReadLibraryMachine(const wchar_t* path);

// A library file built for another machine than this process's.
constexpr HRESULT kLibraryOfOtherMachine = static_cast<HRESULT>(0x800700D8);  // ERROR_EXE_MACHINE_TYPE_MISMATCH

// Whether path names a product library this process may load: S_OK for a
// file at a fully qualified path that is not built for another machine;
// HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME) for any other path,
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when no file is there,
// kLibraryOfOtherMachine for a file of another machine.
HRESULT CheckProductLibrary(const wchar_t* path);

// The flags of the load: the search flags where Windows offers them, the
// altered search order where it does not.
DWORD ProductLibraryLoadFlags(bool searchFlagsOffered);
// Whether this Windows offers the search flags (kernel32 has AddDllDirectory).
bool SystemOffersLibrarySearchFlags();

}  // namespace tmn
