// Storage from the process heap. Nothing here throws: a failed allocation
// returns null and the caller reports it.
#pragma once

#include <windows.h>

#include <stddef.h>

#include <new>

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

// One object on the process heap, or null when memory runs out.
template <typename T, typename... Args>
T* HeapNew(Args&&... args) {
  void* block = HeapAllocate(sizeof(T));
  return block != nullptr ? new (block) T(static_cast<Args&&>(args)...) : nullptr;
}

template <typename T>
void HeapDelete(T* object) {
  if (object == nullptr) return;
  object->~T();
  HeapRelease(object);
}

// Count * size without wrapping; false when the product does not fit.
inline bool MultiplyWithoutOverflow(size_t count, size_t size, size_t* bytes) {
  if (size != 0 && count > static_cast<size_t>(-1) / size) return false;
  *bytes = count * size;
  return true;
}

}  // namespace tmn
