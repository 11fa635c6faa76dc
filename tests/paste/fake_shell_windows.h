#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A stand-in for Explorer's shell-windows collection, which Wine keeps empty. It is
// registered as the class object of CLSID_ShellWindows in the calling thread's apartment,
// where the program's CoCreateInstance finds it, as it finds Explorer's on Windows.
struct FakeShellEntry {
  HWND frame = nullptr;    // what the browser's get_HWND reports
  HWND tab = nullptr;      // what its shell browser's GetWindow reports
  std::wstring folder;     // the folder its view shows; its location is this folder's file URL
  std::wstring url;        // the location instead, when not empty
  bool closed = false;     // Item answers S_FALSE and no object, as for a window just closed
  bool rootView = false;   // the view shows the namespace root (the Desktop) instead
  int refusedSelects = 0;  // SelectItem fails this many times first, as before a refresh
  std::function<void()> onLocationRead;  // called while the program reads the location
  std::function<void()> onSelect;        // called as SelectItem begins
  int urlReads = 0;
  int frameReads = 0;                  // of get_HWND: how often the program asked about this window
  std::vector<std::wstring> selected;  // the path of each SelectItem, then its flags in hex
};

class FakeShellWindows {
 public:
  explicit FakeShellWindows(std::vector<FakeShellEntry>& entries);  // index order
  ~FakeShellWindows();
  FakeShellWindows(const FakeShellWindows&) = delete;  // one registration, one revocation

 private:
  DWORD cookie_ = 0;
};
