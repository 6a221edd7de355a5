// Stores one undelivered request through tmcachehost.dll, beside this
// program, as an installer does that reports and exits.
// Usage: cachestore.exe URL REFERER TIME [unload]
// Without "unload" the host stays loaded until the end of the process, as a
// plug-in called with /NOUNLOAD; with it the host is freed first, and the
// database library must go with it.
// Exit code: 0 stored; 2 bad usage; 3 no host; 4 the store failed; 5 the
// database library stayed loaded after the host was freed.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

using StoreRequest = HRESULT (*)(const wchar_t* url, const wchar_t* referer, int64_t requestTime);

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  // Found in this program's folder, whose path may be too long to name.
  HMODULE host = LoadLibraryW(L"tmcachehost.dll");
  if (host == nullptr) return 3;
  auto store = reinterpret_cast<StoreRequest>(reinterpret_cast<void*>(GetProcAddress(host, "StoreRequest")));
  if (store == nullptr) return 3;
  const HRESULT result = store(argv[1], argv[2], _wtoi64(argv[3]));
  printf("stored 0x%08lx\n", static_cast<unsigned long>(result));
  if (FAILED(result)) return 4;
  if (argc > 4 && wcscmp(argv[4], L"unload") == 0) {
    FreeLibrary(host);
    if (GetModuleHandleW(L"tarnbase.dll") != nullptr) return 5;
  }
  return 0;
}
