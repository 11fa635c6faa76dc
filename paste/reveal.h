#pragma once

#include <windows.h>

#include <string>

// Tells the shell of the new file and selects it in the view of the frame's entry that shows
// its folder (the active tab first); nothing is reported, whatever happens.
void RevealSavedFile(HWND targetWindow, const std::wstring& path);
