#pragma once

#include <windows.h>

bool PasteIntoFolder(HWND targetWindow);
