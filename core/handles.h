#pragma once

#include <windows.h>
#include <shlobj.h>
#include <winhttp.h>

// Owns one handle and frees it with its own call when it goes out of scope. COM pointers
// have Microsoft::WRL::ComPtr; these are the kinds without a kept owner.
template <typename Handle, auto Free>
class UniqueHandle {
 public:
  explicit UniqueHandle(Handle handle = nullptr) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  Handle Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // For out-parameters: frees what is held and hands out the slot to fill.
  Handle* Put() {
    Reset();
    return &handle_;
  }
  Handle Release() {  // hands the handle over; nothing is freed here any more
    Handle handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void Reset(Handle handle = nullptr) {
    if (handle_) Free(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_;
};

using ScopedRegKey = UniqueHandle<HKEY, &RegCloseKey>;
using ScopedGdiObject = UniqueHandle<HGDIOBJ, &DeleteObject>;
using ScopedIdList = UniqueHandle<LPITEMIDLIST, &ILFree>;
// Declared in the order session, connection, request, they close in the reverse order.
using ScopedInternetHandle = UniqueHandle<HINTERNET, &WinHttpCloseHandle>;
