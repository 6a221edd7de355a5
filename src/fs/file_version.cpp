#include "fs/file_version.h"

#include "base/heap.h"
#include "base/unique.h"

namespace tmn {

bool GetFileVersion(const wchar_t* file, FileVersion* version) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file, &ignored);
  if (size == 0) return false;
  UniqueHeapBlock block(HeapAllocate(size));
  if (!block) return false;
  return ::GetFileVersionInfoW(file, 0, size, block.get()) && FixedFileVersionOf(block.get(), version);
}

bool FixedFileVersionOf(const void* block, FileVersion* version) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!::VerQueryValueW(block, L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || fixed == nullptr ||
      fixedSize < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  version->high = fixed->dwFileVersionMS;
  version->low = fixed->dwFileVersionLS;
  return true;
}

bool FormatFileVersion(const FileVersion& version, WideString* out) {
  wchar_t text[32];
  const int length = ::wsprintfW(text, L"%d.%d.%d.%d", static_cast<int>(HIWORD(version.high)),
                                 static_cast<int>(LOWORD(version.high)), static_cast<int>(HIWORD(version.low)),
                                 static_cast<int>(LOWORD(version.low)));
  return out->Assign(text, static_cast<size_t>(length));
}

}  // namespace tmn
