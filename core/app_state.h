#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

#include "resources/resource_ids.h"

// Window messages, the timer, the tray icon and the tray menu's commands: the numbers
// that the keyboard hook, the hidden window, the tray and the message centre share.
constexpr UINT WM_TRAYICON = WM_APP + 1;
constexpr UINT WM_PASTE_REQUEST = WM_APP + 2;
constexpr UINT WM_FEED_DONE = WM_APP + 40;

constexpr UINT_PTR TIMER_FEED_REFRESH = 2;
constexpr UINT FEED_REFRESH_PERIOD_MS = 1800000;

constexpr UINT TRAY_ICON_ID = 1;

constexpr UINT IDM_TOGGLE_ENABLED = 1001;
constexpr UINT IDM_TOGGLE_AUTOSTART = 1002;
constexpr UINT IDM_HELP = 1003;
constexpr UINT IDM_EXIT = 1004;
constexpr UINT IDM_FEEDBACK = 1007;
constexpr UINT IDM_MESSAGES = 1008;

// The process-wide record. Atomic flags are written by exchange and read by load; the
// rest belongs to the user-interface thread.
struct AppStateRecord {
  HANDLE instanceMutex = nullptr;
  HWND hiddenWindow = nullptr;
  HHOOK keyboardHook = nullptr;
  std::atomic<bool> pastingEnabled{false};
  std::atomic<bool> vKeyDown{false};
  std::atomic<bool> feedStopRequested{false};
  // Set as the exit teardown begins, which a sent WM_ENDSESSION can start inside a paste's
  // call into Explorer: what the paste does after that call checks it.
  std::atomic<bool> teardownBegun{false};
  std::thread feedWorker;
  HWND messageWindow = nullptr;
};

extern AppStateRecord AppState;
