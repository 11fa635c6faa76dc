#pragma once

#include <windows.h>

// A never-shown top-level window for what the message-only hidden window never hears: the
// notification area made anew ("TaskbarCreated"), resume from sleep and the session's
// unlock. It also asks the shell again, every TRAY_RETRY_MS, for an icon it did not take.
inline constexpr wchar_t SHELL_LISTENER_CLASS[] = L"Dropleaf.ShellListener";
constexpr UINT TRAY_RETRY_MS = 2000;

// Creates the listener first, so no "TaskbarCreated" is missed, then adds the icon of
// `iconOwner` (tried once even when no listener could be made).
void StartShellListener(HWND iconOwner);
// Destroys the listener and removes the icon.
void StopShellListener();
// The listener window itself, null while none exists: a top-level window of Dropleaf's.
HWND ShellListenerWindow();
