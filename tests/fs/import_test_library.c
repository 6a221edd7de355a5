/* Two small libraries for the tests of how product libraries are loaded:
   built as tmimported.dll (TM_IMPORTED) and as tmimporter.dll, which
   imports from the other. */
#ifdef TM_IMPORTED
__declspec(dllexport) int tm_imported(void) { return 7; }
#else
__declspec(dllimport) int tm_imported(void);
__declspec(dllexport) int tm_importer(void) { return tm_imported(); }
#endif
