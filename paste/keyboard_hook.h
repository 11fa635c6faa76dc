#pragma once

#include <windows.h>

#include <string>

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam);

std::wstring GetWindowClassName(HWND window);
bool IsExplorerOrDesktopWindow(HWND window);
bool IsDesktopWindow(HWND window);
