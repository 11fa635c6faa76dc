#include "paste/hook_thread.h"

#include <windows.h>

#include <system_error>
#include <thread>

#include "app/app_state.h"
#include "paste/keyboard_hook.h"

namespace {

std::thread hookThread;  // user-interface thread only
DWORD hookThreadId = 0;  // written by the hook thread before it reports the installation

void RunHookThread(HANDLE installed) {
  // Make the message queue before the hook exists, so the stop request can be posted.
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  hookThreadId = GetCurrentThreadId();
  // The system waits for the hook on every key of the desktop: let it run ahead of the paste's
  // encoding when the processors are busy.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHookProc, GetModuleHandleW(nullptr), 0);
  AppState.keyboardHook = hook;
  SetEvent(installed);  // the outcome is AppState.keyboardHook
  if (!hook) return;
  // The system calls the hook from inside this wait; nothing else runs here.
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  UnhookWindowsHookEx(hook);
}

}  // namespace

bool StartKeyboardHookThread() {
  if (hookThread.joinable()) return true;
  HANDLE installed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!installed) return false;
  try {
    hookThread = std::thread(RunHookThread, installed);
  } catch (const std::system_error&) {
    CloseHandle(installed);
    return false;
  }
  WaitForSingleObject(installed, INFINITE);
  CloseHandle(installed);
  if (AppState.keyboardHook) return true;
  hookThread.join();
  return false;
}

void StopKeyboardHookThread() {
  if (!hookThread.joinable()) return;
  PostThreadMessageW(hookThreadId, WM_QUIT, 0, 0);
  hookThread.join();
  AppState.keyboardHook = nullptr;
}
