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
  auto* launch = static_cast<Launch*>(HeapAllocate(sizeof(Launch)));
  if (launch == nullptr) return E_OUTOFMEMORY;
  launch->run = run;
  launch->context = context;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<const wchar_t*>(&ModuleWorkerThread), &launch->module)) {
    const HRESULT failed = HResultFromLastError();
    HeapRelease(launch);
    return failed;
  }
  const HMODULE module = launch->module;
  thread->reset(::CreateThread(nullptr, 0, ModuleWorkerThread, launch, 0, nullptr));
  if (!*thread) {
    const HRESULT failed = HResultFromLastError();
    ::FreeLibrary(module);
    HeapRelease(launch);
    return failed;
  }
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
