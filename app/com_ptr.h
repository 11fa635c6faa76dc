#pragma once

#include <windows.h>
#include <unknwn.h>

// Owns one reference to a COM interface and releases it when it goes out of scope.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      ptr_ = other.ptr_;
      other.ptr_ = nullptr;
    }
    return *this;
  }

  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  // For out-parameters: releases what is held and hands out the slot to fill.
  T** Put() {
    Reset();
    return &ptr_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  void Reset() {
    if (ptr_) {
      ptr_->Release();
      ptr_ = nullptr;
    }
  }

  // QueryInterface into another owning pointer; false when the object lacks it.
  template <typename U>
  bool As(REFIID iid, ComPtr<U>& out) const {
    return ptr_ && SUCCEEDED(ptr_->QueryInterface(iid, out.PutVoid())) && out;
  }

 private:
  T* ptr_ = nullptr;
};
