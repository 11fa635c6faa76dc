#include "messages/message_window.h"

HWND messageListBox = nullptr;
HWND messageStatusLine = nullptr;
void OpenMessageWindow(HWND) {}
LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}
void PopulateMessageList() {}
