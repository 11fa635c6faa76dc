// Draws the README's two screenshots into <build>/artifacts: the tray menu with two unread
// messages, and the message centre listing three messages, one of them read. Run under the
// test prefix (Simplified Chinese, CJK font) by cmake/run-tests.sh.
#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>

#include "app/tray_menu.h"
#include "core/app_state.h"
#include "messages/feed_worker.h"
#include "messages/message_window.h"
#include "messages/read_state.h"
#include "paste/image_source.h"
#include "tests/support/test_support.h"

namespace {

// The screen under a window, as a PNG in <build>/artifacts.
void SaveScreenshot(HWND window, const wchar_t* name) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  CreateDirectoryW((BuildFolder() + L"artifacts").c_str(), nullptr);
  const std::wstring path = BuildFolder() + L"artifacts\\" + name;
  ClipboardImage image;  // owns the bitmap from here on
  image.kind = ClipboardImage::Kind::Bitmap;
  image.bitmap.Reset(bitmap);
  PngContent content;
  Microsoft::WRL::ComPtr<IStream> file;
  if (PreparePngContent(std::move(image), CreateImagingFactory().Get(), content) &&
      SUCCEEDED(SHCreateStreamOnFileEx(path.c_str(), STGM_CREATE | STGM_WRITE,
                                       FILE_ATTRIBUTE_NORMAL, TRUE, nullptr, &file))) {
    WritePngContent(content, file.Get());
  }
}

}  // namespace

int main() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  HWND owner =
      CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  AppState.pastingEnabled.exchange(true);
  AppState.feedStopRequested.exchange(true);  // nothing goes to the network
  FeedState.messages = {{"msg-000000000000000000000001", 1, L"Dropleaf 0.2.1 新版本发布"},
                        {"msg-000000000000000000000002", 2, L"使用技巧：粘贴截图到桌面"},
                        {"msg-000000000000000000000003", 0, L"服务器维护通知"}};
  ReadStateStore.tokens = ReadStateToken(FeedState.messages[1]);  // not stored

  SetTimer(owner, 1, 700, [](HWND window, UINT, UINT_PTR id, DWORD) {
    KillTimer(window, id);
    SaveScreenshot(FindWindowW(L"#32768", nullptr), L"tray_menu.png");
    EndMenu();
  });
  ShowTrayMenu(owner);

  OpenMessageWindow(owner);
  SetWindowPos(AppState.messageWindow, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  PumpMessagesFor(300);
  SaveScreenshot(AppState.messageWindow, L"message_window.png");
  DestroyWindow(AppState.messageWindow);
  DestroyWindow(owner);
  CoUninitialize();
  return 0;
}
