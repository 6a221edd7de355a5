// Whether a library file can be loaded into this process at all. The
// product is 32-bit, but a 64-bit installer may find the product's
// libraries beside it, and the loader of either bitness refuses a library
// of the other one (or, on some systems, fails in ways a caller cannot
// tell from a missing file). A library of the other machine counts as
// missing: it is never handed to the loader.
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

// Reads the headers of the file at path.
LibraryMachine ReadLibraryMachine(const wchar_t* path);

}  // namespace tmn
