#include "paste/window_classes.h"

bool IsExplorerOrDesktopClassName(std::wstring_view className) {
  return className == L"CabinetWClass" || className == L"ExploreWClass" ||
         IsDesktopClassName(className);
}

// "#32769" is the desktop window itself (GetDesktopWindow): what a click on the desktop
// brings to the front where no shell draws one, as under Wine.
bool IsDesktopClassName(std::wstring_view className) {
  return className == L"Progman" || className == L"WorkerW" || className == L"#32769";
}

std::wstring GetWindowClassName(HWND window) {
  if (!window) return {};
  wchar_t buffer[256] = {};
  int length = GetClassNameW(window, buffer, 256);
  if (length <= 0) return {};
  return std::wstring(buffer, static_cast<size_t>(length));
}

bool IsDesktopWindow(HWND window) { return IsDesktopClassName(GetWindowClassName(window)); }
