#include "paste/hook_thread.h"

#include <system_error>
#include <thread>

#include "core/app_state.h"
#include "paste/keyboard_hook.h"

namespace {

// Thread messages to the hook thread. It ends its loop itself on the second: WM_QUIT is not
// to be posted from outside (PostQuitMessage exists for it).
constexpr UINT WM_RENEW_HOOK = WM_APP + 1;
constexpr UINT WM_STOP_HOOK = WM_APP + 2;
constexpr int kStopPostAttempts = 50;  // 20 ms apart: a full queue has a second to drain

std::thread hookThread;  // user-interface thread only
// Written by the hook thread before it signals the installation; read after that signal.
DWORD hookThreadId = 0;
bool hookInstalled = false;

HHOOK InstallHook() {
  return SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHookProc, GetModuleHandleW(nullptr), 0);
}

// Windows removes a hook silently once it has missed the time-out (after resume, under
// memory pressure), even on an idle thread, so a fresh one takes its place now and then.
// The fresh one goes in before the old one comes out, and this thread takes no key between
// the two calls: there is never a moment without a hook, and no key reaches both.
HHOOK RenewHook(HHOOK old) {
  HHOOK fresh = InstallHook();
  if (!fresh) return old;
  UnhookWindowsHookEx(old);
  AppState.keyboardHook = fresh;
  return fresh;
}

void RunHookThread(HANDLE installed, UINT renewEveryMs) {
  // Make the message queue before the hook exists, so the stop request can be posted.
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  hookThreadId = GetCurrentThreadId();
  // The system waits for the hook on every key of the desktop: let it run ahead of the paste's
  // encoding when the processors are busy.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  HHOOK hook = InstallHook();
  AppState.keyboardHook = hook;
  hookInstalled = hook != nullptr;
  SetEvent(installed);
  if (!hook) return;
  const UINT_PTR renewTimer = SetTimer(nullptr, 0, renewEveryMs, nullptr);
  // The system calls the hook from inside this wait; nothing else runs here.
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!msg.hwnd && (msg.message == WM_TIMER || msg.message == WM_RENEW_HOOK)) {
      hook = RenewHook(hook);
    } else if (!msg.hwnd && msg.message == WM_STOP_HOOK) {
      PostQuitMessage(0);
    } else {
      DispatchMessageW(&msg);
    }
  }
  KillTimer(nullptr, renewTimer);
  UnhookWindowsHookEx(hook);
  AppState.keyboardHook = nullptr;
}

}  // namespace

bool StartKeyboardHookThread(HWND pasteRequestWindow, UINT renewEveryMs) {
  if (hookThread.joinable()) return true;
  SetPasteRequestWindow(pasteRequestWindow);  // before the thread: it never changes meanwhile
  HANDLE installed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!installed) return false;
  try {
    hookThread = std::thread(RunHookThread, installed, renewEveryMs);
  } catch (const std::system_error&) {
    CloseHandle(installed);
    return false;
  }
  WaitForSingleObject(installed, INFINITE);
  CloseHandle(installed);
  if (hookInstalled) return true;
  hookThread.join();
  return false;
}

void RenewKeyboardHook() {
  if (hookThread.joinable()) PostThreadMessageW(hookThreadId, WM_RENEW_HOOK, 0, 0);
}

void StopKeyboardHookThread() {
  if (!hookThread.joinable()) return;
  bool told = false;
  for (int attempt = 0; attempt < kStopPostAttempts && !told; ++attempt) {
    told = PostThreadMessageW(hookThreadId, WM_STOP_HOOK, 0, 0);
    if (!told) Sleep(20);
  }
  // A thread that cannot be told is not waited for: it ends with the process.
  if (told) {
    hookThread.join();
  } else {
    hookThread.detach();
  }
}
