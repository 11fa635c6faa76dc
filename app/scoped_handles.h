#pragma once

#include <windows.h>

// Closes a registry key when it goes out of scope.
class ScopedRegKey {
 public:
  ScopedRegKey() = default;
  ~ScopedRegKey() {
    if (key_) RegCloseKey(key_);
  }
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;

  HKEY Get() const { return key_; }
  HKEY* Put() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

// Deletes a GDI object (a bitmap, say) when it goes out of scope.
class ScopedGdiObject {
 public:
  explicit ScopedGdiObject(HGDIOBJ object = nullptr) : object_(object) {}
  ~ScopedGdiObject() {
    if (object_) DeleteObject(object_);
  }
  ScopedGdiObject(const ScopedGdiObject&) = delete;
  ScopedGdiObject& operator=(const ScopedGdiObject&) = delete;

  HGDIOBJ Get() const { return object_; }
  HGDIOBJ Release() {
    HGDIOBJ object = object_;
    object_ = nullptr;
    return object;
  }

 private:
  HGDIOBJ object_;
};
