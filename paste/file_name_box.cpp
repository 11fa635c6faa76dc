#include "paste/file_name_box.h"

namespace {

// On the user-interface thread, after the key was taken: another program's dialog may hang or
// close at any moment, and is not waited for longer than this.
constexpr UINT kWriteMs = 1000;

}  // namespace

bool PutPathIntoFileNameBox(HWND box, const std::wstring& path) {
  // WM_SETTEXT and WM_GETTEXT are carried across processes by the system; a closed dialog's box
  // is no window any more, and a hung one does not answer in time.
  DWORD_PTR answer = 0;
  if (!IsWindow(box) ||
      !SendMessageTimeoutW(box, WM_SETTEXT, 0, LPARAM(path.c_str()), SMTO_ABORTIFHUNG, kWriteMs,
                           &answer) ||
      !answer) {
    return false;
  }
  SendMessageTimeoutW(box, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, kWriteMs, &answer);
  std::wstring held(path.size() + 2, L'\0');
  DWORD_PTR copied = 0;
  return SendMessageTimeoutW(box, WM_GETTEXT, WPARAM(held.size()), LPARAM(&held[0]),
                             SMTO_ABORTIFHUNG, kWriteMs, &copied) &&
         copied == path.size() && held.compare(0, copied, path) == 0;
}
