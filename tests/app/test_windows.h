#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Real windows, real input and real clipboard contents for the app tests.

// Counts the V and Control key-downs that reach a test window.
struct KeyLog {
  int vKeyDowns = 0;
  int controlKeyDowns = 0;
};

// A top-level window of the given class (registered on first use) that records the keys it
// receives in `log`; shown and brought to the foreground unless `show` is false (showing
// costs Wine a noticeable wait). Destroyed with the object.
class ForegroundTestWindow {
 public:
  explicit ForegroundTestWindow(const wchar_t* className, bool show = true);
  ~ForegroundTestWindow();
  ForegroundTestWindow(const ForegroundTestWindow&) = delete;
  ForegroundTestWindow& operator=(const ForegroundTestWindow&) = delete;

  HWND Get() const { return window_; }
  KeyLog log;

 private:
  HWND window_ = nullptr;
};

// A message-only window standing in for the hidden window: it counts paste requests.
class PasteRequestSink {
 public:
  PasteRequestSink();
  ~PasteRequestSink();
  PasteRequestSink(const PasteRequestSink&) = delete;
  PasteRequestSink& operator=(const PasteRequestSink&) = delete;

  HWND Get() const { return window_; }
  int requests = 0;
  HWND lastTarget = nullptr;

 private:
  HWND window_ = nullptr;
};

// Dispatches this thread's messages for the given time, so hooks and window procedures run.
void PumpMessagesFor(DWORD milliseconds);

// Injects key events with SendInput.
void SendKey(WORD virtualKey, bool up);
void SendCtrlV();

// Replaces the clipboard contents. Each returns false if the clipboard could not be set.
bool PutTextOnClipboard(const std::wstring& text);
bool PutDibOnClipboard(UINT format);  // CF_DIB or CF_DIBV5, a 2 x 2 picture

// Reads and restores one DWORD value under HKCU for the length of a test.
class SavedRegistryValue {
 public:
  SavedRegistryValue(const wchar_t* key, const wchar_t* value);
  ~SavedRegistryValue();
  SavedRegistryValue(const SavedRegistryValue&) = delete;
  SavedRegistryValue& operator=(const SavedRegistryValue&) = delete;

 private:
  std::wstring key_;
  std::wstring value_;
  bool existed_ = false;
  DWORD type_ = 0;
  std::vector<BYTE> data_;
};
