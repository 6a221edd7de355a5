#include "fs/library_machine.h"

#include <string.h>

#include "base/result.h"
#include "base/unique.h"
#include "fs/path_checks.h"

namespace tmn {

namespace {

constexpr size_t kDosHeaderBytes = sizeof(IMAGE_DOS_HEADER);                  // 64
constexpr size_t kNtHeadBytes = sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);    // 24
// Windows reads the NT headers within the first pages only; anything
// further out is no image it would load.
constexpr LONG kNtHeadersFurthest = 0x10000;

bool ReadAt(HANDLE file, LONG offset, void* bytes, DWORD count) {
  if (::SetFilePointer(file, offset, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  DWORD read = 0;
  return ::ReadFile(file, bytes, count, &read, nullptr) && read == count;
}

}  // namespace

uint16_t ThisProcessMachine() {
#if defined(_WIN64)
  return IMAGE_FILE_MACHINE_AMD64;
#else
  return IMAGE_FILE_MACHINE_I386;
#endif
}

LibraryMachine MachineOfImage(const uint8_t* dos, size_t dosBytes, const uint8_t* nt, size_t ntBytes) {
  if (dos == nullptr || dosBytes < kDosHeaderBytes || nt == nullptr || ntBytes < kNtHeadBytes)
    return LibraryMachine::kUnreadable;
  IMAGE_DOS_HEADER header;
  memcpy(&header, dos, sizeof(header));
  DWORD signature;
  memcpy(&signature, nt, sizeof(signature));
  if (header.e_magic != IMAGE_DOS_SIGNATURE || signature != IMAGE_NT_SIGNATURE) return LibraryMachine::kUnreadable;
  IMAGE_FILE_HEADER file;
  memcpy(&file, nt + sizeof(signature), sizeof(file));
  return file.Machine == ThisProcessMachine() ? LibraryMachine::kThisProcess : LibraryMachine::kOther;
}

LONG NtHeadersOffset(const uint8_t* dos, size_t dosBytes) {
  if (dos == nullptr || dosBytes < kDosHeaderBytes) return -1;
  LONG offset;
  memcpy(&offset, dos + offsetof(IMAGE_DOS_HEADER, e_lfanew), sizeof(offset));
  return offset >= 0 && offset <= kNtHeadersFurthest ? offset : -1;
}

LibraryMachine ReadLibraryMachine(const wchar_t* path) {
  UniqueFile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return LibraryMachine::kUnreadable;
  uint8_t dos[kDosHeaderBytes];
  if (!ReadAt(file.get(), 0, dos, sizeof(dos))) return LibraryMachine::kUnreadable;
  const LONG ntOffset = NtHeadersOffset(dos, sizeof(dos));
  if (ntOffset < 0) return LibraryMachine::kUnreadable;
  uint8_t nt[kNtHeadBytes];
  if (!ReadAt(file.get(), ntOffset, nt, sizeof(nt))) return LibraryMachine::kUnreadable;
  return MachineOfImage(dos, sizeof(dos), nt, sizeof(nt));
}

HRESULT CheckProductLibrary(const wchar_t* path) {
  // A path that is not fully qualified would be looked for along the
  // system's search order: the current folder and PATH included.
  if (!IsFullyQualifiedPath(path)) return HResultFromWin32(ERROR_BAD_PATHNAME);
  const DWORD attributes = ::GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return HResultFromWin32(ERROR_FILE_NOT_FOUND);
  return ReadLibraryMachine(path) == LibraryMachine::kOther ? kLibraryOfOtherMachine : S_OK;
}

DWORD ProductLibraryLoadFlags(bool searchFlagsOffered) {
  // Not declared for XP: LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32.
  constexpr DWORD kSearchLibraryFolderAndSystem32 = 0x00000100 | 0x00000800;
  return searchFlagsOffered ? kSearchLibraryFolderAndSystem32 : LOAD_WITH_ALTERED_SEARCH_PATH;
}

bool SystemOffersLibrarySearchFlags() {
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  return kernel != nullptr && ::GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

}  // namespace tmn
