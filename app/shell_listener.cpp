#include "app/shell_listener.h"

#include <wtsapi32.h>

#include "app/tray_icon.h"
#include "paste/hook_thread.h"

namespace {

constexpr UINT_PTR TIMER_TRAY_RETRY = 1;

HWND listener = nullptr;   // user-interface thread only
HWND iconOwner = nullptr;  // user-interface thread only

UINT TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

// At sign-in the shell may refuse the icon or time out, and it announces nothing once it is
// ready: ask again on a timer until it takes the icon, then stop asking.
void AddIconOrRetry() {
  if (TryAddTrayIcon(iconOwner)) {
    if (listener) KillTimer(listener, TIMER_TRAY_RETRY);
  } else if (listener) {
    SetTimer(listener, TIMER_TRAY_RETRY, TRAY_RETRY_MS, nullptr);
  }
}

LRESULT CALLBACK ShellListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == TaskbarCreatedMessage() && message != 0) {
    AddIconOrRetry();  // Explorer restarted: its new notification area has no icons
    return 0;
  }
  switch (message) {
    case WM_TIMER:
      if (wParam == TIMER_TRAY_RETRY) AddIconOrRetry();
      return 0;
    // Windows drops a keyboard hook that once missed its time-out, which a resume or the
    // paging after an unlock can cause: install a fresh one at those moments.
    case WM_POWERBROADCAST:
      if (wParam == PBT_APMRESUMEAUTOMATIC) RenewKeyboardHook();
      return TRUE;
    case WM_WTSSESSION_CHANGE:
      if (wParam == WTS_SESSION_UNLOCK) RenewKeyboardHook();
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

void StartShellListener(HWND owner) {
  iconOwner = owner;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = ShellListenerProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = SHELL_LISTENER_CLASS;
  RegisterClassExW(&windowClass);
  // Top-level, so it receives broadcasts; never shown, so it has no taskbar button.
  listener = CreateWindowExW(WS_EX_TOOLWINDOW, SHELL_LISTENER_CLASS, L"Dropleaf", WS_POPUP, 0, 0, 0,
                             0, nullptr, nullptr, instance, nullptr);
  if (listener) WTSRegisterSessionNotification(listener, NOTIFY_FOR_THIS_SESSION);
  AddIconOrRetry();
}

void StopShellListener() {
  if (listener) {
    WTSUnRegisterSessionNotification(listener);
    DestroyWindow(listener);  // its retry timer goes with it
    listener = nullptr;
  }
  if (iconOwner) RemoveTrayIcon(iconOwner);
  iconOwner = nullptr;
}
