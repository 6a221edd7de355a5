#include "base/module_worker.h"

#include "base/result.h"
#include "base/unique.h"

namespace tmn {

namespace {

struct Launch {
  void (*run)(void* context);
  void* context;
  HMODULE module;
};

DWORD WINAPI ModuleWorkerThread(void* parameter) {
  Launch launch = *static_cast<Launch*>(parameter);
  HeapRelease(parameter);
  launch.run(launch.context);
  // Nothing of this module runs after this call, which may unload it.
  ::FreeLibraryAndExitThread(launch.module, 0);
  return 0;
}

}  // namespace

HRESULT StartModuleWorker(void (*run)(void* context), void* context, UniqueHandle* thread) {
  // Both go to the thread once it runs: it frees the block and lets the
  // module go.
  UniqueHeapBlock block(HeapAllocate(sizeof(Launch)));
  if (!block) return E_OUTOFMEMORY;
  UniqueModule module;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<const wchar_t*>(&ModuleWorkerThread), module.put()))
    return HResultFromLastError();
  *static_cast<Launch*>(block.get()) = Launch{run, context, module.get()};
  thread->reset(::CreateThread(nullptr, 0, ModuleWorkerThread, block.get(), 0, nullptr));
  if (!*thread) return HResultFromLastError();
  block.release();
  module.release();
  return S_OK;
}

bool WaitForModuleWorker(const UniqueHandle& thread, DWORD waitMs) {
  if (::WaitForSingleObject(thread.get(), waitMs) == WAIT_OBJECT_0) return true;
  HMODULE pinned = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<const wchar_t*>(&ModuleWorkerThread), &pinned);
  return false;
}

}  // namespace tmn
