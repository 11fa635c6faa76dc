#pragma once

#include <windows.h>

#include <string>

std::wstring ResolveFolderForWindow(HWND window);
std::wstring FileUrlToPath(const std::wstring& url);
