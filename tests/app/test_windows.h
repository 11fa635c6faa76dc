#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Real windows, input, clipboard contents and registry values for the app tests.

// A top-level window of the given class (registered on first use) that counts the V and
// Control key-downs and the paste requests it receives. Shown and brought to the foreground
// unless `show` is false (showing costs Wine a noticeable wait); with HWND_MESSAGE as parent it
// is a message-only stand-in for the hidden window. Destroyed with the object.
class TestWindow {
 public:
  explicit TestWindow(const wchar_t* className, bool show = true, HWND parent = nullptr);
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  HWND Get() const { return window_; }
  int vKeyDowns = 0;
  int controlKeyDowns = 0;
  int pasteRequests = 0;
  HWND lastTarget = nullptr;

 private:
  HWND window_ = nullptr;
};

// Dispatches this thread's messages for the given time, so hooks and window procedures run.
void PumpMessagesFor(DWORD milliseconds);
// Pumps messages until `done` holds or the time is up; the last answer of `done`.
bool WaitUntil(const std::function<bool()>& done, DWORD milliseconds);

// Injects key events with SendInput.
void SendKey(WORD virtualKey, bool up);
void SendCtrlV();

// Replace the clipboard contents; false if the clipboard could not be set.
bool PutTextOnClipboard(const std::wstring& text);
bool PutDibOnClipboard();  // a 2 x 2 picture as CF_DIB only
void EmptyTheClipboard();

// The program's HKCU values as stored: Enabled if it is a DWORD (else 7); the Run value if it
// is a REG_SZ that fits 4096 units, "<absent>" if there is none.
DWORD ReadEnabledDword();
std::wstring ReadRunValue();

// Reads and restores one value under HKCU for the length of a test.
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
