// Hosts top-level windows of both main-window classes and records the
// messages they receive, one line each, to a file:
//   ready                          after the windows exist
//   <class> <index> syscommand 0x<wParam>
//   <class> <index> close | destroy
// Usage: winhost.exe <record file> [copies per class] [seconds]
// Exits when every window is gone or the time is up.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

namespace {

const wchar_t* const kClasses[2] = {
    L"{11BB6165-8ABF-4d25-B398-BF34128E8398}",
    L"{4E767414-5EF3-4a0a-BC5D-7EDD2D005169}",
};

FILE* g_record = nullptr;
int g_open = 0;

void Record(HWND window, const char* what, WPARAM wParam, bool withParam) {
  const LONG_PTR tag = GetWindowLongPtrW(window, GWLP_USERDATA);
  const int classNumber = static_cast<int>(tag / 100);
  const int index = static_cast<int>(tag % 100);
  if (withParam)
    fprintf(g_record, "%d %d %s 0x%X\n", classNumber, index, what, static_cast<unsigned>(wParam));
  else
    fprintf(g_record, "%d %d %s\n", classNumber, index, what);
  fflush(g_record);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SYSCOMMAND:
      Record(window, "syscommand", wParam, true);
      break;
    case WM_CLOSE:
      Record(window, "close", 0, false);
      break;
    case WM_DESTROY:
      Record(window, "destroy", 0, false);
      if (--g_open == 0) PostQuitMessage(0);
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  g_record = _wfopen(argv[1], L"wb");  // "\n" line ends, whoever reads it
  if (g_record == nullptr) return 3;
  const int copies = argc > 2 ? _wtoi(argv[2]) : 1;
  const int seconds = argc > 3 ? _wtoi(argv[3]) : 60;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (int c = 0; c < 2; ++c) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClasses[c];
    if (!RegisterClassW(&windowClass)) return 4;
  }
  // Class 2 is made first, so that the order of the requests cannot come
  // from the order of creation.
  for (int c = 1; c >= 0; --c) {
    for (int i = 0; i < copies; ++i) {
      HWND window = CreateWindowExW(0, kClasses[c], L"Vardo", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                    nullptr, nullptr, instance, nullptr);
      if (window == nullptr) return 5;
      SetWindowLongPtrW(window, GWLP_USERDATA, (c + 1) * 100 + i);
      ++g_open;
    }
  }
  fprintf(g_record, "ready\n");
  fflush(g_record);
  SetTimer(nullptr, 0, static_cast<UINT>(seconds) * 1000, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == nullptr) break;
    DispatchMessageW(&message);
  }
  fprintf(g_record, "exit\n");
  fclose(g_record);
  return 0;
}
