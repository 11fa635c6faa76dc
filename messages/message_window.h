#pragma once

#include <windows.h>

#include <string>

#include "messages/feed_parser.h"

inline constexpr wchar_t MESSAGE_WINDOW_CLASS[] = L"Dropleaf.Messages";

constexpr int IDC_MESSAGE_LIST = 101;
constexpr int IDC_VIEW_DETAILS = 102;
constexpr int IDC_MARK_ALL_READ = 103;
constexpr int IDC_REFRESH = 104;

// Status line texts.
inline constexpr wchar_t MESSAGE_STATUS_LOADING[] = L"正在加载…";
inline constexpr wchar_t MESSAGE_STATUS_EMPTY[] = L"暂时没有消息。";
inline constexpr wchar_t MESSAGE_STATUS_LISTED[] = L"选择一条消息，点击查看详情。";
inline constexpr wchar_t MESSAGE_STATUS_FAILED[] = L"消息暂时无法加载，请点击刷新重试。";

extern HWND messageListBox;
extern HWND messageStatusLine;

void OpenMessageWindow(HWND hiddenWindow);
LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PopulateMessageList();
// The hidden window's handler of WM_FEED_DONE: takes a good feed into the list, or says
// that loading failed.
void OnFeedDone();

// One list line: the unread mark, then the title.
std::wstring MessageListLine(const MessageRecord& record);
// Sets the status line's text while the window is open; does nothing while it is closed.
void SetMessageStatusText(const wchar_t* text);
