#pragma once

#include <windows.h>

#include <string>

void RevealSavedFile(HWND targetWindow, const std::wstring& path);
