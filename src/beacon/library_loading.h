// How the product's libraries (the database library, the info-collection
// library) are loaded into the installer, which may run elevated: only by
// a fully qualified path, only when built for this process's machine, and
// only when no one may change the file or its folder who may not also write
// the system folder (security/system_writers.h). A downloaded installer
// runs from Downloads, an uninstaller from a copy in the user's temporary
// folder: a library that any program of the user's could have put there is
// never loaded. A library passed over counts as missing, and the log says
// which file it was and why, also when another place had one that loads.
#pragma once

#include <windows.h>

#include "base/unique.h"
#include "base/wide_string.h"

namespace tmn {

// A library that others than the system folder's writers may change, or
// whose folder they may change.
constexpr HRESULT kLibraryNotSystemOwn = static_cast<HRESULT>(0x80070005);  // E_ACCESSDENIED

// Whether the library at path may be loaded: S_OK, or why not: the answers
// of CheckProductLibrary (fs/library_machine.h), or kLibraryNotSystemOwn.
HRESULT JudgeProductLibrary(const wchar_t* path);

// Loads the library at path when JudgeProductLibrary allows it, holding it
// and its folder meanwhile so that the file loaded is the file judged; the
// judgement's failure, or the loader's.
HRESULT LoadProductLibrary(const wchar_t* path, UniqueModule* library);

// The first library a search passed over although a file was there, for
// the log: built for another machine, or not the system's own.
struct PassedOverLibrary {
  WideString path;  // empty: none
  HRESULT why = S_OK;

  // Keeps path when judged is such a refusal and none is kept yet.
  void Note(const wchar_t* path, HRESULT judged);
  // The code its log line shows: HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT)
  // for another machine's library, kLibraryNotSystemOwn for the other.
  HRESULT LoggedCode() const;
};

}  // namespace tmn
