#pragma once

#include <windows.h>

#include <string>

// The folder the window shows: the Desktop known folder for the desktop, else the folder of
// the frame's entry in the shell's window collection (its active tab first) whose location
// is a file URL of an existing directory; empty when none qualifies.
std::wstring ResolveFolderForWindow(HWND window);
std::wstring FileUrlToPath(const std::wstring& url);
