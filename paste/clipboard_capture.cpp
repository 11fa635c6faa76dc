#include "paste/clipboard_capture.h"

namespace {

constexpr int kOpenAttempts = 8;
constexpr DWORD kRetryPauseMs = 10;

// Another program may hold the clipboard for a moment; try a few times before giving up.
bool OpenClipboardWithRetry(HWND owner) {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (OpenClipboard(owner)) return true;
    Sleep(kRetryPauseMs);
  }
  return false;
}

}  // namespace

HBITMAP CaptureClipboardBitmap(HWND owner) {
  if (!OpenClipboardWithRetry(owner)) return nullptr;
  // CF_BITMAP only: the system synthesizes it from CF_DIB and CF_DIBV5. The clipboard's
  // handle stays the clipboard's; the DIB-section copy is ours, so it outlives the close.
  HBITMAP copy = nullptr;
  if (HANDLE shared = GetClipboardData(CF_BITMAP)) {
    copy = static_cast<HBITMAP>(CopyImage(shared, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  }
  CloseClipboard();
  return copy;
}
