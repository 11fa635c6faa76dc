#include "tests/app/test_windows.h"

#include "app/app_state.h"
#include "app/settings.h"

namespace {

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self && (message == WM_KEYDOWN || message == WM_SYSKEYDOWN)) {
    if (wParam == 'V') ++self->vKeyDowns;
    if (wParam == VK_CONTROL) ++self->controlKeyDowns;
  }
  if (self && message == WM_PASTE_REQUEST) {
    ++self->pasteRequests;
    self->lastTarget = reinterpret_cast<HWND>(wParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool SetClipboardBlock(UINT format, const void* bytes, size_t size) {
  if (!OpenClipboard(nullptr)) return false;
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  bool done = false;
  if (block) {
    memcpy(GlobalLock(block), bytes, size);
    GlobalUnlock(block);
    done = SetClipboardData(format, block) != nullptr;
    if (!done) GlobalFree(block);
  }
  CloseClipboard();
  return done;
}

}  // namespace

TestWindow::TestWindow(const wchar_t* className, bool show, HWND parent) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = TestWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = className;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  RegisterClassW(&windowClass);  // a second registration fails harmlessly
  window_ =
      CreateWindowExW(0, className, L"Dropleaf test window", parent ? 0 : WS_OVERLAPPEDWINDOW, 100,
                      100, 300, 200, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window_) return;
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  if (!show || parent) return;
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  SetFocus(window_);
  PumpMessagesFor(200);
}

TestWindow::~TestWindow() {
  if (window_) DestroyWindow(window_);
  PumpMessagesFor(50);
}

void PumpMessagesFor(DWORD milliseconds) {
  WaitUntil([] { return false; }, milliseconds);
}

bool WaitUntil(const std::function<bool()>& done, DWORD milliseconds) {
  ULONGLONG deadline = GetTickCount64() + milliseconds;
  MSG msg;
  while (!done()) {
    if (GetTickCount64() >= deadline) return false;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
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

bool PutDibOnClipboard() {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = 2;
  header.biHeight = 2;
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  const DWORD pixels[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FFFFFF};
  BYTE bytes[sizeof(header) + sizeof(pixels)];
  memcpy(bytes, &header, sizeof(header));
  memcpy(bytes + sizeof(header), pixels, sizeof(pixels));
  return SetClipboardBlock(CF_DIB, bytes, sizeof(bytes));
}

void EmptyTheClipboard() {
  if (!OpenClipboard(nullptr)) return;
  EmptyClipboard();
  CloseClipboard();
}

DWORD ReadEnabledDword() {
  DWORD value = 7;
  DWORD size = sizeof(value);
  RegGetValueW(HKEY_CURRENT_USER, SETTINGS_KEY, SETTINGS_ENABLED_VALUE, RRF_RT_REG_DWORD, nullptr,
               &value, &size);
  return value;
}

std::wstring ReadRunValue() {
  std::vector<wchar_t> buffer(4096, L'\0');
  DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  DWORD type = 0;
  LONG status = RegGetValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE, RRF_RT_ANY | RRF_NOEXPAND,
                             &type, buffer.data(), &size);
  if (status == ERROR_FILE_NOT_FOUND) return L"<absent>";
  if (status != ERROR_SUCCESS || type != REG_SZ) return L"<no short REG_SZ>";
  return buffer.data();
}

SavedRegistryValue::SavedRegistryValue(const wchar_t* key, const wchar_t* value)
    : key_(key), value_(value), data_(65536) {
  DWORD size = static_cast<DWORD>(data_.size());
  existed_ = RegGetValueW(HKEY_CURRENT_USER, key, value, RRF_RT_ANY | RRF_NOEXPAND, &type_,
                          data_.data(), &size) == ERROR_SUCCESS;
  data_.resize(size);
}

SavedRegistryValue::~SavedRegistryValue() {
  if (existed_) {
    RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), value_.c_str(), type_, data_.data(),
                    static_cast<DWORD>(data_.size()));
  } else {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key_.c_str(), value_.c_str());
  }
}
