#include "app/hidden_window.h"

#include <shellapi.h>

#include <string>

#include "core/app_state.h"
#include "core/service_hosts.h"
#include "resources/version.h"
#include "app/settings.h"
#include "app/shell_listener.h"
#include "app/tray_icon.h"
#include "app/tray_menu.h"
#include "messages/feed_worker.h"
#include "messages/message_window.h"
#include "messages/read_state.h"
#include "paste/hook_thread.h"
#include "paste/paste_operation.h"

const wchar_t HELP_TITLE[] = L"Dropleaf 使用说明";

const wchar_t HELP_TEXT[] =
    L"Dropleaf V1\n\n"
    L"1. 使用任意截图工具或复制一张图片。\n"
    L"2. 打开 Windows 文件资源管理器中的目标文件夹。\n"
    L"3. 按 Ctrl+V。\n"
    L"4. 图片会保存为 Screenshot_yyyyMMdd_HHmmss.png。\n\n"
    L"Dropleaf 仅在资源管理器/桌面且剪贴板为图片时接管 Ctrl+V。";

const wchar_t INFO_TEXT[] =
    L"复制或截图一张图片后，在 Windows 文件资源管理器的目标文件夹中按 Ctrl+V，"
    L"Dropleaf 会自动生成 PNG 文件。\n\n其他应用中的 Ctrl+V 不受影响。";

namespace {

void OnCreate(HWND window) {
  StartShellListener(window);  // adds the tray icon, retrying until the shell takes it
  SetTimer(window, TIMER_FEED_REFRESH, FEED_REFRESH_PERIOD_MS, nullptr);
  FeedState.notifyWindow = window;
  LoadReadState();
  StartFeedRefresh(window);  // the first refresh, once the read state is there
}

void OnDestroy(HWND window) {
  // The hook goes first: a Ctrl+V while the rest is torn down (the worker may take a second)
  // must reach the folder window, not a request that nobody will carry out.
  StopKeyboardHookThread();
  StopPasting();  // first of all the rest: this may run inside a paste's call into Explorer
  KillTimer(window, TIMER_FEED_REFRESH);
  StopFeedWorker();  // no refresh starts any more; a running one finishes without posting
  if (AppState.messageWindow) DestroyWindow(AppState.messageWindow);
  StopShellListener();  // and the tray icon
  PostQuitMessage(0);
}

void OnTrayEvent(HWND window, UINT event) {
  switch (event) {
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU:
      ShowTrayMenu(window);
      break;
    case WM_LBUTTONDBLCLK:
      MessageBoxW(window, INFO_TEXT, L"Dropleaf", MB_ICONINFORMATION);
      break;
    default:
      break;
  }
}

// Returns false for ids that are not the tray menu's.
bool OnCommand(HWND window, UINT id) {
  switch (id) {
    case IDM_TOGGLE_ENABLED: {
      bool enabled = !AppState.pastingEnabled.load();
      AppState.pastingEnabled.exchange(enabled);
      WritePastingEnabled(enabled);
      UpdateTrayTooltip();
      return true;
    }
    case IDM_TOGGLE_AUTOSTART:
      if (!SetRunAtSignIn(!IsRunAtSignIn())) {
        ShowBalloon(L"Dropleaf", L"修改开机启动设置失败。", NIIF_ERROR);
      }
      return true;
    case IDM_HELP:
      MessageBoxW(window, HELP_TEXT, HELP_TITLE, MB_ICONINFORMATION);
      return true;
    case IDM_EXIT:
      DestroyWindow(window);
      return true;
    case IDM_FEEDBACK:
      ShellExecuteW(window, L"open", FeedbackAddress().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
      return true;
    case IDM_MESSAGES:
      OpenMessageWindow(window);
      return true;
    default:
      return false;
  }
}

}  // namespace

std::wstring FeedbackAddress() {
  return std::wstring(MAKER_WEB_SITE) +
         L"/feedback/?tool=dropleaf&version=" DROPLEAF_PRODUCT_VERSION;
}

LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate(window);
      return 0;
    case WM_DESTROY:
      OnDestroy(window);
      return 0;
    case WM_COMMAND:
      if (OnCommand(window, LOWORD(wParam))) return 0;
      break;
    case WM_TIMER:
      if (wParam == TIMER_FEED_REFRESH) StartFeedRefresh(window);
      return 0;
    case WM_TRAYICON:
      OnTrayEvent(window, LOWORD(lParam));
      return 0;
    case WM_PASTE_REQUEST:
      // The foreground window, and an Open dialog's File name box (null for a folder window).
      HandlePasteRequest({reinterpret_cast<HWND>(wParam), reinterpret_cast<HWND>(lParam)},
                         ShowBalloon);
      return 0;
    case WM_FEED_DONE:
      OnFeedDone();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
