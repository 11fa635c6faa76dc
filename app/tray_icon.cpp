#include "app/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

#include "app/app_state.h"

namespace {

NOTIFYICONDATAW MakeIconData(HWND window, UINT flags) {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof(data);
  data.hWnd = window;
  data.uID = TRAY_ICON_ID;
  data.uFlags = flags;
  return data;
}

// Copies into a fixed field, cut to fit and always terminated.
template <size_t N>
void CopyField(wchar_t (&field)[N], const wchar_t* text) {
  size_t length = text ? wcslen(text) : 0;
  if (length > N - 1) length = N - 1;
  if (length) wmemcpy(field, text, length);
  field[length] = L'\0';
}

}  // namespace

const wchar_t* TrayTooltipText(bool pastingEnabled) {
  return pastingEnabled ? TOOLTIP_ENABLED : TOOLTIP_PAUSED;
}

void AddTrayIcon(HWND window) {
  // Under NOTIFYICON_VERSION_4 the shell shows the tooltip only with NIF_SHOWTIP.
  NOTIFYICONDATAW data = MakeIconData(window, NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
  data.uCallbackMessage = WM_TRAYICON;
  // The small image, drawn for the notification area, rather than the large one scaled down.
  // Not LoadIconMetric: it lives only in comctl32 6, which a program without a manifest
  // does not get, so Windows would refuse to start the program.
  data.hIcon = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON,
                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  CopyField(data.szTip, TOOLTIP_ENABLED);
  Shell_NotifyIconW(NIM_ADD, &data);
  data.uVersion = NOTIFYICON_VERSION_4;
  Shell_NotifyIconW(NIM_SETVERSION, &data);
  if (data.hIcon) DestroyIcon(data.hIcon);  // the shell keeps its own copy
}

void RemoveTrayIcon(HWND window) {
  NOTIFYICONDATAW data = MakeIconData(window, 0);
  Shell_NotifyIconW(NIM_DELETE, &data);
}

void UpdateTrayTooltip() {
  if (!AppState.hiddenWindow) return;
  NOTIFYICONDATAW data = MakeIconData(AppState.hiddenWindow, NIF_TIP | NIF_SHOWTIP);
  CopyField(data.szTip, TrayTooltipText(AppState.pastingEnabled.load()));
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void ShowBalloon(const wchar_t* title, const std::wstring& text, DWORD iconFlag) {
  if (!AppState.hiddenWindow) return;
  NOTIFYICONDATAW data = MakeIconData(AppState.hiddenWindow, NIF_INFO);
  data.dwInfoFlags = iconFlag;
  CopyField(data.szInfoTitle, title);
  CopyField(data.szInfo, text.c_str());
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

namespace {

// The shell broadcasts this when the notification area is made anew (Explorer restarted):
// every icon must be added again.
UINT TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

LRESULT CALLBACK TaskbarListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == TaskbarCreatedMessage() && message != 0 && AppState.hiddenWindow) {
    AddTrayIcon(AppState.hiddenWindow);
    UpdateTrayTooltip();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreateTaskbarListener(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = TaskbarListenerProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = TASKBAR_LISTENER_CLASS;
  RegisterClassExW(&windowClass);
  // Top-level, so it receives broadcasts (the hidden window is message-only and does not);
  // never shown, so it has no taskbar button.
  return CreateWindowExW(WS_EX_TOOLWINDOW, TASKBAR_LISTENER_CLASS, L"Dropleaf", WS_POPUP, 0, 0, 0,
                         0, nullptr, nullptr, instance, nullptr);
}
