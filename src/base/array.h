// A growable array and a first-in first-out queue on the process heap.
// Growth reports failure by returning false; elements are moved, never
// copied, so a push cannot fail half-way through an element.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

#include "base/heap.h"

namespace tmn {

template <typename T>
class Array {
  static_assert(std::is_nothrow_move_constructible<T>::value,
                "elements are moved when the array grows");

 public:
  Array() noexcept = default;
  ~Array() { Clear(); HeapRelease(items_); }

  Array(Array&& other) noexcept
      : items_(other.items_), size_(other.size_), capacity_(other.capacity_) {
    other.items_ = nullptr;
    other.size_ = other.capacity_ = 0;
  }
  Array& operator=(Array&& other) noexcept {
    if (this != &other) {
      Clear();
      HeapRelease(items_);
      items_ = other.items_;
      size_ = other.size_;
      capacity_ = other.capacity_;
      other.items_ = nullptr;
      other.size_ = other.capacity_ = 0;
    }
    return *this;
  }
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;

  size_t Size() const { return size_; }
  bool IsEmpty() const { return size_ == 0; }
  T& operator[](size_t i) { return items_[i]; }
  const T& operator[](size_t i) const { return items_[i]; }
  T* begin() { return items_; }
  T* end() { return items_ + size_; }
  const T* begin() const { return items_; }
  const T* end() const { return items_ + size_; }
  T& Back() { return items_[size_ - 1]; }

  bool Reserve(size_t capacity) {
    if (capacity <= capacity_) return true;
    size_t bytes = 0;
    if (!MultiplyWithoutOverflow(capacity, sizeof(T), &bytes)) return false;
    T* grown = static_cast<T*>(HeapAllocate(bytes));
    if (grown == nullptr) return false;
    for (size_t i = 0; i < size_; ++i) {
      new (&grown[i]) T(std::move(items_[i]));
      items_[i].~T();
    }
    HeapRelease(items_);
    items_ = grown;
    capacity_ = capacity;
    return true;
  }

  bool Push(T&& item) {
    if (size_ == capacity_ && !Reserve(capacity_ < 8 ? 8 : capacity_ * 2)) return false;
    new (&items_[size_]) T(std::move(item));
    ++size_;
    return true;
  }

  void PopBack() {
    if (size_ == 0) return;
    --size_;
    items_[size_].~T();
  }

  // Removes the element at index, keeping the order of the rest.
  void RemoveAt(size_t index) {
    if (index >= size_) return;
    for (size_t i = index; i + 1 < size_; ++i) items_[i] = std::move(items_[i + 1]);
    PopBack();
  }

  void Clear() {
    while (size_ > 0) PopBack();
  }

 private:
  T* items_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Ring buffer: appended at the back, taken from the front.
template <typename T>
class Queue {
  static_assert(std::is_nothrow_move_constructible<T>::value,
                "elements are moved in and out");

 public:
  Queue() noexcept = default;
  ~Queue() { Clear(); HeapRelease(slots_); }
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  size_t Size() const { return size_; }
  bool IsEmpty() const { return size_ == 0; }
  T& Front() { return slots_[head_]; }

  bool PushBack(T&& item) {
    if (size_ == capacity_ && !Grow()) return false;
    new (&slots_[(head_ + size_) % capacity_]) T(std::move(item));
    ++size_;
    return true;
  }

  // Moves the front element into out; false when the queue is empty.
  bool PopFront(T& out) {
    if (size_ == 0) return false;
    out = std::move(slots_[head_]);
    DropFront();
    return true;
  }

  void DropFront() {
    if (size_ == 0) return;
    slots_[head_].~T();
    head_ = (head_ + 1) % capacity_;
    --size_;
  }

  void Clear() {
    while (size_ > 0) DropFront();
    head_ = 0;
  }

  // Trades contents with other, without moving an element.
  void Swap(Queue& other) noexcept {
    T* slots = slots_;
    slots_ = other.slots_;
    other.slots_ = slots;
    size_t head = head_, size = size_, capacity = capacity_;
    head_ = other.head_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.head_ = head;
    other.size_ = size;
    other.capacity_ = capacity;
  }

 private:
  bool Grow() {
    const size_t capacity = capacity_ < 16 ? 16 : capacity_ * 2;
    size_t bytes = 0;
    if (capacity <= capacity_ || !MultiplyWithoutOverflow(capacity, sizeof(T), &bytes)) return false;
    T* grown = static_cast<T*>(HeapAllocate(bytes));
    if (grown == nullptr) return false;
    for (size_t i = 0; i < size_; ++i) {
      T& from = slots_[(head_ + i) % capacity_];
      new (&grown[i]) T(std::move(from));
      from.~T();
    }
    HeapRelease(slots_);
    slots_ = grown;
    capacity_ = capacity;
    head_ = 0;
    return true;
  }

  T* slots_ = nullptr;
  size_t head_ = 0;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace tmn
