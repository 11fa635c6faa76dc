#include "app/tray_menu.h"

void ShowTrayMenu(HWND) {}
std::wstring MessageCentreMenuLabel(uint32_t) { return {}; }
