#pragma once

#include <windows.h>

inline constexpr wchar_t MESSAGE_WINDOW_CLASS[] = L"Dropleaf.Messages";

constexpr int IDC_MESSAGE_LIST = 101;
constexpr int IDC_VIEW_DETAILS = 102;
constexpr int IDC_MARK_ALL_READ = 103;
constexpr int IDC_REFRESH = 104;

extern HWND messageListBox;
extern HWND messageStatusLine;

void OpenMessageWindow(HWND hiddenWindow);
LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PopulateMessageList();
