#pragma once

#include <windows.h>

// An owned DIB-section copy of the clipboard's bitmap, or null. The caller deletes it.
HBITMAP CaptureClipboardBitmap(HWND owner);
