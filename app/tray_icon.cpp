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
  NOTIFYICONDATAW data = MakeIconData(window, NIF_MESSAGE | NIF_ICON | NIF_TIP);
  data.uCallbackMessage = WM_TRAYICON;
  data.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP_ICON));
  CopyField(data.szTip, TOOLTIP_ENABLED);
  Shell_NotifyIconW(NIM_ADD, &data);
  data.uVersion = NOTIFYICON_VERSION_4;
  Shell_NotifyIconW(NIM_SETVERSION, &data);
}

void RemoveTrayIcon(HWND window) {
  NOTIFYICONDATAW data = MakeIconData(window, 0);
  Shell_NotifyIconW(NIM_DELETE, &data);
}

void UpdateTrayTooltip() {
  if (!AppState.hiddenWindow) return;
  NOTIFYICONDATAW data = MakeIconData(AppState.hiddenWindow, NIF_TIP);
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
