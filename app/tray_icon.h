#pragma once

#include <windows.h>

#include <string>

void AddTrayIcon(HWND window);
void RemoveTrayIcon(HWND window);
void UpdateTrayTooltip();
void ShowBalloon(const wchar_t* title, const std::wstring& text, DWORD iconFlag);

inline constexpr wchar_t TOOLTIP_ENABLED[] = L"Dropleaf - 已启用";
inline constexpr wchar_t TOOLTIP_PAUSED[] = L"Dropleaf - 已暂停";

// The tooltip that matches the pasting switch.
const wchar_t* TrayTooltipText(bool pastingEnabled);
