#include "app/tray_menu.h"

#include "core/app_state.h"
#include "app/settings.h"
#include "app/shell_listener.h"
#include "messages/read_state.h"

std::wstring MessageCentreMenuLabel(uint32_t unread) {
  std::wstring label = L"消息中心";
  if (unread == 0) return label;
  return label + L"（" + std::to_wstring(unread) + L" 条未读）";
}

HMENU BuildTrayMenu(bool pastingEnabled, bool runAtSignIn, uint32_t unread) {
  HMENU menu = CreatePopupMenu();
  if (!menu) return nullptr;
  std::wstring messagesLabel = MessageCentreMenuLabel(unread);
  AppendMenuW(menu, MF_STRING | (pastingEnabled ? MF_CHECKED : 0), IDM_TOGGLE_ENABLED,
              L"启用图片粘贴");
  AppendMenuW(menu, MF_STRING | (runAtSignIn ? MF_CHECKED : 0), IDM_TOGGLE_AUTOSTART,
              L"开机自动运行");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, IDM_HELP, L"使用说明");
  AppendMenuW(menu, MF_STRING, IDM_FEEDBACK, L"问题反馈");
  AppendMenuW(menu, MF_STRING, IDM_MESSAGES, messagesLabel.c_str());
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, IDM_EXIT, L"退出");
  return menu;
}

void ShowTrayMenu(HWND hiddenWindow) {
  // One right click brings WM_RBUTTONUP and WM_CONTEXTMENU under NOTIFYICON_VERSION_4; the
  // second arrives inside the first menu's modal loop and must not open another.
  static bool menuOpen = false;
  if (menuOpen) return;
  // Built afresh each time, so check marks and the unread count are those of this moment.
  HMENU menu =
      BuildTrayMenu(AppState.pastingEnabled.load(), IsRunAtSignIn(), CountUnreadMessages());
  if (!menu) return;
  POINT cursor = {};
  GetCursorPos(&cursor);
  // The menu closes on a click outside it only when its owner is the foreground window
  // (TrackPopupMenu's remarks), and a message-only window never can be, though Wine lets it:
  // the owner is the top-level listener, and the chosen command goes to the hidden window.
  HWND owner = ShellListenerWindow() ? ShellListenerWindow() : hiddenWindow;
  SetForegroundWindow(owner);
  menuOpen = true;
  const UINT command =
      TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN | TPM_RETURNCMD | TPM_NONOTIFY,
                     cursor.x, cursor.y, 0, owner, nullptr);
  menuOpen = false;
  DestroyMenu(menu);
  // As TrackPopupMenu's remarks prescribe for notification-area menus: else the next menu
  // may flash and close at once.
  PostMessageW(owner, WM_NULL, 0, 0);
  if (command) PostMessageW(hiddenWindow, WM_COMMAND, command, 0);
}
