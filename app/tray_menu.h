#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

void ShowTrayMenu(HWND hiddenWindow);

// The message-centre entry's label for a given number of unread messages.
std::wstring MessageCentreMenuLabel(uint32_t unread);
