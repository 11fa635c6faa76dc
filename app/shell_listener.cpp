#include "app/shell_listener.h"

#include <wtsapi32.h>

#include "app/tray_icon.h"
#include "core/app_state.h"
#include "paste/hook_thread.h"

namespace {

constexpr UINT_PTR TIMER_SHELL_RETRY = 1;

HWND listener = nullptr;   // user-interface thread only; null once destroyed
HWND iconOwner = nullptr;  // user-interface thread only
bool iconPresent = false;
bool sessionNotified = false;

UINT TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

// At sign-in the shell may refuse the icon or time out, and it announces nothing once it is
// ready; the session notification fails until its service runs (RPC_S_INVALID_BINDING).
// Both are asked again on a timer until they are had, then the timer stops.
void RegisterOrRetry() {
  if (!iconPresent) iconPresent = TryAddTrayIcon(iconOwner);
  if (!listener) return;
  if (!sessionNotified) {
    sessionNotified = WTSRegisterSessionNotification(listener, NOTIFY_FOR_THIS_SESSION);
  }
  if (iconPresent && sessionNotified) {
    KillTimer(listener, TIMER_SHELL_RETRY);
  } else {
    SetTimer(listener, TIMER_SHELL_RETRY, TRAY_RETRY_MS, nullptr);
  }
}

// The tray menu's Exit: the hidden window's teardown, which destroys this window too.
void ExitDropleaf() {
  if (iconOwner) SendMessageW(iconOwner, WM_COMMAND, IDM_EXIT, 0);
}

LRESULT CALLBACK ShellListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == TaskbarCreatedMessage() && message != 0) {
    iconPresent = false;  // Explorer restarted: its new notification area has no icons
    RegisterOrRetry();
    return 0;
  }
  switch (message) {
    case WM_TIMER:
      if (wParam == TIMER_SHELL_RETRY) RegisterOrRetry();
      return 0;
    // taskkill without /f and an installer's Restart Manager ask this, the only top-level
    // window, to close: Dropleaf ends as through its menu.
    case WM_CLOSE:
      ExitDropleaf();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    // Windows may end the process as soon as this returns: everything is torn down here.
    case WM_ENDSESSION:
      if (wParam) ExitDropleaf();
      return 0;
    // Windows drops a keyboard hook that once missed its time-out, which a resume or the
    // paging after an unlock can cause: install a fresh one at those moments.
    case WM_POWERBROADCAST:
      if (wParam == PBT_APMRESUMEAUTOMATIC) RenewKeyboardHook();
      return TRUE;
    case WM_WTSSESSION_CHANGE:
      if (wParam == WTS_SESSION_UNLOCK) RenewKeyboardHook();
      return 0;
    case WM_DESTROY:
      if (sessionNotified) WTSUnRegisterSessionNotification(window);
      sessionNotified = false;
      listener = nullptr;
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
  // Started elevated (an installer's last page), User Interface Privilege Isolation would
  // hold back what comes from a lower integrity level: Explorer's broadcast, and the WM_CLOSE
  // of the next (unelevated) setup or of taskkill from an ordinary prompt.
  if (listener) {
    ChangeWindowMessageFilterEx(listener, TaskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);
    ChangeWindowMessageFilterEx(listener, WM_CLOSE, MSGFLT_ALLOW, nullptr);
  }
  RegisterOrRetry();
}

void StopShellListener() {
  if (listener) DestroyWindow(listener);  // its retry timer and session notice go with it
  if (iconOwner) RemoveTrayIcon(iconOwner);
  iconOwner = nullptr;
  iconPresent = false;
}

HWND ShellListenerWindow() { return listener; }
