#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

void ShowTrayMenu(HWND hiddenWindow);

// The message-centre entry's label for a given number of unread messages.
std::wstring MessageCentreMenuLabel(uint32_t unread);

// The tray menu's eight entries for the given state; null when no menu could be made. The
// caller destroys it.
HMENU BuildTrayMenu(bool pastingEnabled, bool runAtSignIn, uint32_t unread);
