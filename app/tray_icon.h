#pragma once

#include <windows.h>

#include <string>

void AddTrayIcon(HWND window);
void RemoveTrayIcon(HWND window);
void UpdateTrayTooltip();
// A never-shown top-level window whose only job is to add the icon again when the shell's
// notification area is made anew; the caller destroys it.
inline constexpr wchar_t TASKBAR_LISTENER_CLASS[] = L"Dropleaf.TaskbarListener";
HWND CreateTaskbarListener(HINSTANCE instance);

void ShowBalloon(const wchar_t* title, const std::wstring& text, DWORD iconFlag);

inline constexpr wchar_t TOOLTIP_ENABLED[] = L"Dropleaf - 已启用";
inline constexpr wchar_t TOOLTIP_PAUSED[] = L"Dropleaf - 已暂停";

// The tooltip that matches the pasting switch.
const wchar_t* TrayTooltipText(bool pastingEnabled);
