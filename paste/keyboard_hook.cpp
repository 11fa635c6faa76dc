#include "paste/keyboard_hook.h"

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam) {
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
std::wstring GetWindowClassName(HWND) { return {}; }
bool IsExplorerOrDesktopWindow(HWND) { return false; }
bool IsDesktopWindow(HWND) { return false; }
