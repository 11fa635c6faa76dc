#include "app/tray_icon.h"

void AddTrayIcon(HWND) {}
void RemoveTrayIcon(HWND) {}
void UpdateTrayTooltip() {}
void ShowBalloon(const wchar_t*, const std::wstring&, DWORD) {}
