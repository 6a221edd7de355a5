#include "fs/file_version.h"

#include <string.h>

#include "base/heap.h"
#include "base/unique.h"

namespace tmn {

bool GetFileVersion(const wchar_t* file, FileVersion* version) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file, &ignored);
  if (size == 0) return false;
  UniqueHeapBlock block(HeapAllocate(size));
  if (!block) return false;
  return ::GetFileVersionInfoW(file, 0, size, block.get()) && FixedFileVersionOf(block.get(), size, version);
}

bool FixedFileVersionOf(const void* block, size_t size, FileVersion* version) {
  // The block's lengths and key are the file's, which anyone may have
  // written, and VerQueryValueW takes no size: the root must lie within the
  // block, and its key end there, before it is asked.
  const auto* bytes = static_cast<const uint8_t*>(block);
  constexpr size_t kKeyAt = 6;  // after wLength, wValueLength and wType
  WORD length = 0;
  if (size < kKeyAt) return false;
  memcpy(&length, bytes, sizeof(length));
  if (length > size) return false;
  size_t at = kKeyAt;
  while (at + sizeof(wchar_t) <= length && (bytes[at] != 0 || bytes[at + 1] != 0)) at += sizeof(wchar_t);
  if (at + sizeof(wchar_t) > length) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!::VerQueryValueW(block, L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || fixed == nullptr ||
      fixedSize < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  const auto* value = reinterpret_cast<const uint8_t*>(fixed);
  if (value < bytes || value > bytes + length || sizeof(VS_FIXEDFILEINFO) > static_cast<size_t>(bytes + length - value))
    return false;
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
