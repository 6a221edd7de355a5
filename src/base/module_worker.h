// Work that may block the installer runs on a worker thread that holds its
// own reference to this module, while the installer's thread waits for it
// at most until its deadline. Closing WinINet's handles does not end a
// blocked send, and a product library may hang in any call, so a worker is
// never stopped: when the wait runs out, the installer goes on and the
// worker ends on its own. Its reference keeps the module loaded meanwhile,
// even after the host freed it (FreeLibraryAndExitThread lets it go).
//
// A worker that outlives the call also makes the module stay loaded until
// the process ends. NSIS calls a plug-in that is still loaded through the
// handle it finds, without taking a reference, and frees it all the same
// after the call: the worker's reference would be given up under it, and
// the module unloaded while it, or a later call, still runs. A worker that
// ends within its call is waited for to its very end, its reference given
// back before the call returns.
//
// What the two threads share lives in a SharedBlock on the process heap,
// freed by whichever lets go of it last.
#pragma once

#include <windows.h>

#include <new>
#include <utility>

#include "base/heap.h"
#include "base/unique.h"

namespace tmn {

// Runs run(context) on a new thread that holds a reference to this module
// until it ends; thread receives the thread, which is signalled once it has
// ended and let go of the module. On failure nothing runs and context stays
// the caller's.
HRESULT StartModuleWorker(void (*run)(void* context), void* context, UniqueHandle* thread);

// Waits at most waitMs for the worker to end. When it has not, the module
// stays loaded until the process ends, and false is returned.
bool WaitForModuleWorker(const UniqueHandle& thread, DWORD waitMs);

// One thread's share of a T on the process heap.
template <typename T>
class SharedBlock {
  struct Block {
    volatile LONG references = 1;
    T value;
  };

 public:
  SharedBlock() = default;
  ~SharedBlock() { reset(); }
  SharedBlock(SharedBlock&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;

  // A new T, default-made; empty when memory runs out.
  static SharedBlock Make() {
    SharedBlock made;
    void* memory = HeapAllocate(sizeof(Block));
    if (memory != nullptr) made.block_ = new (memory) Block;
    return made;
  }
  // Another share of the same T.
  SharedBlock Share() const {
    ::InterlockedIncrement(&block_->references);
    SharedBlock other;
    other.block_ = block_;
    return other;
  }
  // The share handed to a worker as its context, and taken back there.
  void* Release() {
    Block* block = block_;
    block_ = nullptr;
    return block;
  }
  static SharedBlock Adopt(void* context) {
    SharedBlock adopted;
    adopted.block_ = static_cast<Block*>(context);
    return adopted;
  }

  explicit operator bool() const { return block_ != nullptr; }
  T* operator->() const { return &block_->value; }
  T& operator*() const { return block_->value; }

  void reset() {
    if (block_ != nullptr && ::InterlockedDecrement(&block_->references) == 0) {
      block_->~Block();
      HeapRelease(block_);
    }
    block_ = nullptr;
  }

 private:
  Block* block_ = nullptr;
};

// Starts run on a worker with a share of block: the worker adopts it
// (SharedBlock<T>::Adopt). On failure the share is let go here.
template <typename T>
HRESULT StartWorkerWith(const SharedBlock<T>& block, void (*run)(void* context), UniqueHandle* thread) {
  SharedBlock<T> share = block.Share();
  void* context = share.Release();
  const HRESULT started = StartModuleWorker(run, context, thread);
  if (FAILED(started)) SharedBlock<T>::Adopt(context).reset();
  return started;
}

}  // namespace tmn
