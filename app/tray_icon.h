#pragma once

#include <windows.h>

#include <string>

// Adds the icon with the switch's tooltip and icon version 4; true when the shell has it.
bool TryAddTrayIcon(HWND owner);
void RemoveTrayIcon(HWND owner);
void UpdateTrayTooltip();

void ShowBalloon(const wchar_t* title, const std::wstring& text, DWORD iconFlag);

inline constexpr wchar_t TOOLTIP_ENABLED[] = L"Dropleaf - 已启用";
inline constexpr wchar_t TOOLTIP_PAUSED[] = L"Dropleaf - 已暂停";

// The tooltip that matches the pasting switch.
const wchar_t* TrayTooltipText(bool pastingEnabled);
