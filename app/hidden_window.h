#pragma once

#include <windows.h>

#include <string>

inline constexpr wchar_t HIDDEN_WINDOW_CLASS[] = L"Dropleaf.HiddenWindow";

LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The texts of the usage box and the tray icon's info box, and the feedback page.
extern const wchar_t HELP_TEXT[];
extern const wchar_t HELP_TITLE[];
extern const wchar_t INFO_TEXT[];
std::wstring FeedbackAddress();
