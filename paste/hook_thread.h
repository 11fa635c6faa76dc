#pragma once

#include <windows.h>

// The low-level keyboard hook lives on a thread of its own that does nothing else, so a
// busy user-interface thread (a long paste, a modal box) never delays the desktop's typing
// and the system never drops the hook for missing its time-out.

// How often a fresh hook replaces the installed one.
constexpr UINT KEYBOARD_HOOK_RENEW_MS = 5 * 60 * 1000;

// Starts the thread, installs the hook there and waits for the outcome; false when the hook
// could not be installed (the thread has ended again by then). Paste requests go to
// `pasteRequestWindow`.
bool StartKeyboardHookThread(HWND pasteRequestWindow, UINT renewEveryMs = KEYBOARD_HOOK_RENEW_MS);

// Replaces the hook with a fresh one now (after resume or unlock); nothing when none runs.
void RenewKeyboardHook();

// Unhooks and ends the thread; does nothing when none runs.
void StopKeyboardHookThread();
