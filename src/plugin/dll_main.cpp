#include <windows.h>

// The module's process-wide objects are built before this runs and torn
// down after the last detach; the entry routine itself has nothing to do.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
