#include "tests/app/test_windows.h"

#include <vector>

#include "app/app_state.h"

namespace {

LRESULT CALLBACK KeyLogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* log = reinterpret_cast<KeyLog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (log && (message == WM_KEYDOWN || message == WM_SYSKEYDOWN)) {
    if (wParam == 'V') ++log->vKeyDowns;
    if (wParam == VK_CONTROL) ++log->controlKeyDowns;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK SinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* sink = reinterpret_cast<PasteRequestSink*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (sink && message == WM_PASTE_REQUEST) {
    ++sink->requests;
    sink->lastTarget = reinterpret_cast<HWND>(wParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterTestClass(const wchar_t* name, WNDPROC procedure) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = name;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  RegisterClassW(&windowClass);  // a second registration fails harmlessly
}

bool SetClipboardBlock(UINT format, const void* bytes, size_t size) {
  if (!OpenClipboard(nullptr)) return false;
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  bool done = false;
  if (block) {
    void* target = GlobalLock(block);
    memcpy(target, bytes, size);
    GlobalUnlock(block);
    done = SetClipboardData(format, block) != nullptr;
    if (!done) GlobalFree(block);
  }
  CloseClipboard();
  return done;
}

}  // namespace

ForegroundTestWindow::ForegroundTestWindow(const wchar_t* className, bool show) {
  RegisterTestClass(className, KeyLogProc);
  window_ = CreateWindowExW(0, className, L"Dropleaf test window", WS_OVERLAPPEDWINDOW, 100, 100,
                            300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window_) return;
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&log));
  if (!show) return;
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  SetFocus(window_);
  PumpMessagesFor(200);
}

ForegroundTestWindow::~ForegroundTestWindow() {
  if (window_) DestroyWindow(window_);
  PumpMessagesFor(50);
}

PasteRequestSink::PasteRequestSink() {
  RegisterTestClass(L"Dropleaf.Test.PasteSink", SinkProc);
  window_ = CreateWindowExW(0, L"Dropleaf.Test.PasteSink", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window_) SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

PasteRequestSink::~PasteRequestSink() {
  if (window_) DestroyWindow(window_);
}

void PumpMessagesFor(DWORD milliseconds) {
  ULONGLONG deadline = GetTickCount64() + milliseconds;
  MSG msg;
  while (GetTickCount64() < deadline) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void SendKey(WORD virtualKey, bool up) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &input, sizeof(input));
  PumpMessagesFor(30);
}

void SendCtrlV() {
  SendKey(VK_CONTROL, false);
  SendKey('V', false);
  SendKey('V', true);
  SendKey(VK_CONTROL, true);
}

bool PutTextOnClipboard(const std::wstring& text) {
  return SetClipboardBlock(CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

bool PutDibOnClipboard(UINT format) {
  std::vector<BYTE> bytes;
  const DWORD pixels[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FFFFFF};
  if (format == CF_DIBV5) {
    BITMAPV5HEADER header = {};
    header.bV5Size = sizeof(header);
    header.bV5Width = 2;
    header.bV5Height = 2;
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_RGB;
    header.bV5CSType = 0x73524742;  // LCS_sRGB, whose macro is a multi-character constant
    bytes.resize(sizeof(header) + sizeof(pixels));
    memcpy(bytes.data(), &header, sizeof(header));
    memcpy(bytes.data() + sizeof(header), pixels, sizeof(pixels));
  } else {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = 2;
    header.biHeight = 2;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    bytes.resize(sizeof(header) + sizeof(pixels));
    memcpy(bytes.data(), &header, sizeof(header));
    memcpy(bytes.data() + sizeof(header), pixels, sizeof(pixels));
  }
  return SetClipboardBlock(format, bytes.data(), bytes.size());
}

SavedRegistryValue::SavedRegistryValue(const wchar_t* key, const wchar_t* value)
    : key_(key), value_(value) {
  DWORD size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, key, value, RRF_RT_ANY | RRF_NOEXPAND, &type_, nullptr,
                   &size) != ERROR_SUCCESS) {
    return;
  }
  data_.resize(size);
  if (RegGetValueW(HKEY_CURRENT_USER, key, value, RRF_RT_ANY | RRF_NOEXPAND, &type_,
                   size ? data_.data() : nullptr, &size) == ERROR_SUCCESS) {
    data_.resize(size);
    existed_ = true;
  }
}

SavedRegistryValue::~SavedRegistryValue() {
  if (existed_) {
    RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), value_.c_str(), type_, data_.data(),
                    static_cast<DWORD>(data_.size()));
  } else {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key_.c_str(), value_.c_str());
  }
}
