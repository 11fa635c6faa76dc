#include "app/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

#include "core/app_state.h"

namespace {

// NIF_SHOWTIP goes with every add and modify: under NOTIFYICON_VERSION_4 the shell takes it
// from each call, and one modify without it (a balloon's, say) hides the tooltip for good.
NOTIFYICONDATAW MakeIconData(HWND window, UINT flags) {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof(data);
  data.hWnd = window;
  data.uID = TRAY_ICON_ID;
  data.uFlags = flags | NIF_SHOWTIP;
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

bool TryAddTrayIcon(HWND owner) {
  NOTIFYICONDATAW data = MakeIconData(owner, NIF_MESSAGE | NIF_ICON | NIF_TIP);
  data.uCallbackMessage = WM_TRAYICON;
  // The small image, drawn for the notification area, rather than the large one scaled down.
  // Not LoadIconMetric: it lives only in comctl32 6, which a program without a manifest
  // does not get, so Windows would refuse to start the program.
  data.hIcon = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON,
                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  CopyField(data.szTip, TrayTooltipText(AppState.pastingEnabled.load()));
  // An add that timed out while the shell was starting may have landed all the same; the
  // icon then exists when a modify of it succeeds.
  const bool present = Shell_NotifyIconW(NIM_ADD, &data) || Shell_NotifyIconW(NIM_MODIFY, &data);
  if (present) {
    data.uVersion = NOTIFYICON_VERSION_4;
    Shell_NotifyIconW(NIM_SETVERSION, &data);
  }
  if (data.hIcon) DestroyIcon(data.hIcon);  // the shell keeps its own copy
  return present;
}

void RemoveTrayIcon(HWND owner) {
  NOTIFYICONDATAW data = MakeIconData(owner, 0);
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
