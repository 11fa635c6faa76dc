#pragma once

#include <windows.h>

inline constexpr wchar_t HIDDEN_WINDOW_CLASS[] = L"Dropleaf.HiddenWindow";

LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Sets AppState.clipboardHasImage from the formats on offer, without opening the clipboard.
void UpdateClipboardImageFlag();
