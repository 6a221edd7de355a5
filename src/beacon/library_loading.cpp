#include "beacon/library_loading.h"

#include "base/result.h"
#include "fs/library_machine.h"
#include "security/system_writers.h"

namespace tmn {

HRESULT JudgeProductLibrary(const wchar_t* path) {
  RETURN_IF_FAILED(CheckProductLibrary(path));
  return OnlySystemWritersMayChangeFile(path) ? S_OK : kLibraryNotSystemOwn;
}

HRESULT LoadProductLibrary(const wchar_t* path, UniqueModule* library) {
  RETURN_IF_FAILED(CheckProductLibrary(path));
  UniqueFile heldFile, heldFolder;
  if (!OnlySystemWritersMayChangeFile(path, &heldFile, &heldFolder)) return kLibraryNotSystemOwn;
  library->reset(::LoadLibraryExW(path, nullptr, ProductLibraryLoadFlags(SystemOffersLibrarySearchFlags())));
  return *library ? S_OK : HResultFromLastError();
}

void PassedOverLibrary::Note(const wchar_t* file, HRESULT judged) {
  if ((judged == kLibraryOfOtherMachine || judged == kLibraryNotSystemOwn) && path.IsEmpty() && path.Assign(file))
    why = judged;
}

HRESULT PassedOverLibrary::LoggedCode() const {
  return why == kLibraryOfOtherMachine ? HResultFromWin32(ERROR_BAD_EXE_FORMAT) : why;
}

}  // namespace tmn
