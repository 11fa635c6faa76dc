#include "paste/clipboard_capture.h"

HBITMAP CaptureClipboardBitmap(HWND) { return nullptr; }
