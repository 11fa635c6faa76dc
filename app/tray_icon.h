#pragma once

#include <windows.h>

#include <string>

void AddTrayIcon(HWND window);
void RemoveTrayIcon(HWND window);
void UpdateTrayTooltip();
void ShowBalloon(const wchar_t* title, const std::wstring& text, DWORD iconFlag);
