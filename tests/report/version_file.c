/* The code of a file built only to carry a version resource: an entry
   point that accepts every load, and nothing else. */
int __stdcall DllMainCRTStartup(void* module, unsigned long reason, void* reserved) {
  (void)module;
  (void)reason;
  (void)reserved;
  return 1;
}
