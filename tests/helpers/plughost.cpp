// Hosts the plug-in as an installer does, from wherever this program is
// copied: loads the DLL, pushes one text when given, calls one export with
// a 1024-byte string size, and frees the DLL. Prints its current folder
// first, which relative paths start from.
// Usage: plughost.exe DLL EXPORT [TEXT]
// Exit codes: 0 called, 2 DLL not loaded, 3 no such export.
#include <windows.h>

#include <stdio.h>

struct stack_t {
  stack_t* next;
  char text[1];
};

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 1;
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  wprintf(L"%ls\n", folder);
  fflush(stdout);
  HMODULE module = LoadLibraryW(argv[1]);
  if (module == nullptr) return 2;
  char name[128] = {};
  WideCharToMultiByte(CP_ACP, 0, argv[2], -1, name, sizeof(name) - 1, nullptr, nullptr);
  using PluginFunction = void(__cdecl*)(HWND, int, char*, stack_t**, void*);
  auto function = reinterpret_cast<PluginFunction>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (function == nullptr) return 3;
  const int size = 1024;
  static char variables[20 * size];
  stack_t* top = nullptr;
  if (argc > 3) {
    top = static_cast<stack_t*>(GlobalAlloc(GPTR, sizeof(stack_t) + size));
    WideCharToMultiByte(CP_ACP, 0, argv[3], -1, top->text, size - 1, nullptr, nullptr);
  }
  function(nullptr, size, variables, &top, nullptr);
  while (top != nullptr) {
    stack_t* next = top->next;
    GlobalFree(top);
    top = next;
  }
  FreeLibrary(module);
  return 0;
}
