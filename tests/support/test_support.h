#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Real windows, input, clipboard contents and files for the tests.

inline long long NowMs() { return static_cast<long long>(GetTickCount64()); }
bool UnderWine();  // the tests that need the Wine test prefix's set-up skip elsewhere
// Dispatches this thread's messages until `done` holds or the time is up; the last answer.
bool WaitUntil(const std::function<bool()>& done, DWORD milliseconds);
inline void PumpMessagesFor(DWORD milliseconds) {
  WaitUntil([] { return false; }, milliseconds);
}

// A window of the given class that counts the V key-downs and the paste requests it gets:
// top-level and in front, a child of `parent`, or message-only with HWND_MESSAGE.
class TestWindow {
 public:
  explicit TestWindow(const wchar_t* className, HWND parent = nullptr);
  ~TestWindow() { DestroyWindow(window_); }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  HWND Get() const { return window_; }

  int vKeyDowns = 0;
  int pasteRequests = 0;
  HWND lastTarget = nullptr;
  std::function<void(UINT message, WPARAM wParam)> onMessage;  // every message, if set

 private:
  HWND window_ = nullptr;
};

void SendCtrlV();  // as typed, the messages pumped between the keys

// Pixels as 0xAARRGGBB words, rows top to bottom.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};
// Colours varying in both directions, with one alpha value (opaque unless told).
Image PatternImage(int width, int height, uint32_t alpha = 0xFF);
Image DecodeImageFile(const std::wstring& path);  // its first frame by WIC, as 32bppBGRA
// The image as CF_DIB unless it is empty, CF_UNICODETEXT too when `text` is not empty, and a
// file list (CF_HDROP) of `file` when that is not empty.
bool PutOnClipboard(const Image& image, const std::wstring& text = L"",
                    const std::wstring& file = L"");
// Formats with their bytes, placed in this order; one without bytes is rendered on request by
// `owner` (WM_RENDERFORMAT).
using ClipboardFormats = std::vector<std::pair<UINT, std::string>>;
bool PutFormatsOnClipboard(const ClipboardFormats& formats, HWND owner = nullptr);
HGLOBAL GlobalBlock(const std::string& bytes);  // a movable block holding the bytes
std::string DibBytes(const Image& image);       // a bottom-up 32-bit CF_DIB, as most programs place

std::wstring BuildFolder();  // DROPLEAF_BUILD_DIR as Wine sees it, with a trailing backslash
std::wstring KnownDesktop();
std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& prefix);
std::string ReadBytes(const std::wstring& path);
