// Result codes in the Windows HRESULT form, and the few macros that keep
// the plumbing of operations readable.
#pragma once

#include <windows.h>

namespace tmn {

// HRESULT_FROM_WIN32 of a Windows error: 0 and negative values pass unchanged.
constexpr HRESULT HResultFromWin32(DWORD error) {
  return static_cast<HRESULT>(error) <= 0
             ? static_cast<HRESULT>(error)
             : static_cast<HRESULT>((error & 0x0000FFFFu) | 0x80070000u);
}

// The thread's last error as a failure code. A call that failed without
// setting an error must still read as a failure, so 0 becomes E_FAIL.
inline HRESULT HResultFromLastError() {
  const DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HResultFromWin32(error);
}

}  // namespace tmn

#define RETURN_IF_FAILED(expr)              \
  do {                                      \
    const HRESULT hr_ = (expr);             \
    if (FAILED(hr_)) return hr_;            \
  } while (0)

#define RETURN_IF_WIN32_BOOL_FALSE(expr)                        \
  do {                                                          \
    if (!(expr)) return ::tmn::HResultFromLastError();           \
  } while (0)

#define RETURN_IF_WIN32_ERROR(expr)                             \
  do {                                                          \
    const DWORD status_ = (expr);                               \
    if (status_ != ERROR_SUCCESS)                               \
      return ::tmn::HResultFromWin32(status_);                   \
  } while (0)

#define RETURN_LAST_ERROR_IF_NULL(expr)                         \
  do {                                                          \
    if ((expr) == nullptr) return ::tmn::HResultFromLastError(); \
  } while (0)
