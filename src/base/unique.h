// Owners of Windows handles, keys, searches, local blocks and libraries,
// a scope guard and a critical section with its lock. No handle of the
// system is closed by hand.
#pragma once

#include <windows.h>

#include <utility>

namespace tmn {

// One move-only owner; the traits give the handle type, its empty value and
// how it is closed.
template <typename Traits>
class UniqueAny {
 public:
  using Type = typename Traits::Type;

  UniqueAny() noexcept : value_(Traits::Invalid()) {}
  explicit UniqueAny(Type value) noexcept : value_(value) {}
  ~UniqueAny() { reset(); }
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;

  Type get() const { return value_; }
  bool valid() const { return value_ != Traits::Invalid(); }
  explicit operator bool() const { return valid(); }

  // Closing keeps the thread's last error: callers read GetLastError() after
  // cleanup.
  void reset(Type value = Traits::Invalid()) {
    if (valid()) {
      const DWORD error = ::GetLastError();
      Traits::Close(value_);
      ::SetLastError(error);
    }
    value_ = value;
  }
  Type release() {
    Type value = value_;
    value_ = Traits::Invalid();
    return value;
  }
  // For out-parameters: closes what is held and hands out the slot.
  Type* put() {
    reset();
    return &value_;
  }

 private:
  Type value_;
};

namespace traits {
struct Handle {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::CloseHandle(h); }
};
struct File {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};
struct Find {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::FindClose(h); }
};
struct Hkey {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::RegCloseKey(h); }
};
struct Local {
  using Type = HLOCAL;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::LocalFree(h); }
};
struct Global {
  using Type = HGLOBAL;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::GlobalFree(h); }
};
struct HeapBlock {
  using Type = void*;
  static Type Invalid() { return nullptr; }
  static void Close(Type p) { ::HeapFree(::GetProcessHeap(), 0, p); }
};
struct Sid {
  using Type = PSID;
  static Type Invalid() { return nullptr; }
  static void Close(Type p) { ::FreeSid(p); }
};
struct Module {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::FreeLibrary(h); }
};
}  // namespace traits

using UniqueHandle = UniqueAny<traits::Handle>;  // threads, processes, mutexes, tokens
using UniqueFile = UniqueAny<traits::File>;      // CreateFileW, snapshots
using UniqueFind = UniqueAny<traits::Find>;
using UniqueHkey = UniqueAny<traits::Hkey>;
using UniqueLocal = UniqueAny<traits::Local>;    // ACLs, security descriptors
using UniqueGlobal = UniqueAny<traits::Global>;
using UniqueHeapBlock = UniqueAny<traits::HeapBlock>;  // HeapAllocate
using UniqueSid = UniqueAny<traits::Sid>;              // AllocateAndInitializeSid
using UniqueModule = UniqueAny<traits::Module>;

// Runs a callable when the scope ends, unless dismissed.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() {
    if (armed_) f_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  void Dismiss() { armed_ = false; }

 private:
  F f_;
  bool armed_ = true;
};

template <typename F>
ScopeExit<F> MakeScopeExit(F f) {
  return ScopeExit<F>(std::move(f));
}

class CriticalSection {
 public:
  CriticalSection() { ::InitializeCriticalSection(&section_); }
  ~CriticalSection() { ::DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter() { ::EnterCriticalSection(&section_); }
  void Leave() { ::LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~CriticalSectionLock() { section_.Leave(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CriticalSection& section_;
};

}  // namespace tmn
