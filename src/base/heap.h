// Storage from the process heap. Nothing here throws: a failed allocation
// returns null and the caller reports it.
#pragma once

#include <windows.h>

#include <stddef.h>

namespace tmn {

inline void* HeapAllocate(size_t bytes) {
  return ::HeapAlloc(::GetProcessHeap(), 0, bytes);
}

inline void* HeapAllocateZeroed(size_t bytes) {
  return ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

inline void HeapRelease(void* block) {
  if (block != nullptr) ::HeapFree(::GetProcessHeap(), 0, block);
}

// Count * size without wrapping; false when the product does not fit.
inline bool MultiplyWithoutOverflow(size_t count, size_t size, size_t* bytes) {
  if (size != 0 && count > static_cast<size_t>(-1) / size) return false;
  *bytes = count * size;
  return true;
}

}  // namespace tmn
