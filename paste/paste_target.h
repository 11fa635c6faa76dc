#pragma once

#include <windows.h>

// Where a Ctrl+V that the hook took pastes: a File Explorer folder window or the desktop, or
// another program's Open dialog, which gets the saved file's path in its File name box.
struct PasteTarget {
  HWND window = nullptr;       // the foreground window at the key press; it may have closed since
  HWND fileNameBox = nullptr;  // the Open dialog's File name box; null for a folder or the desktop
};
