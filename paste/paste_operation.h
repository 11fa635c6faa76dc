#pragma once

#include <windows.h>

#include <functional>
#include <string>

bool PasteIntoFolder(HWND targetWindow);

// How an outcome reaches the user: a balloon's title, text and icon kind (NIIF_*).
using PasteReport = std::function<void(const wchar_t* title, const std::wstring& text, DWORD)>;

// The paste with its one outcome handed to `report` instead of the tray's balloon.
bool PasteIntoFolder(HWND targetWindow, const PasteReport& report);
