#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Which windows are a File Explorer folder window or the desktop, by class name: what the
// hook, folder resolution and the reveal all ask.

std::wstring GetWindowClassName(HWND window);  // empty for a null window or on failure
bool IsDesktopWindow(HWND window);

// The tests themselves: exact, case-sensitive comparisons of the whole name.
bool IsExplorerOrDesktopClassName(std::wstring_view className);
bool IsDesktopClassName(std::wstring_view className);
