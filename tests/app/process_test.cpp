#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/app_state.h"
#include "app/hidden_window.h"
#include "app/settings.h"
#include "tests/support/test_support.h"

// The real Dropleaf.exe, in the test prefix's virtual desktop with its taskbar. What these
// tests observe (the prefix's loopback proxy, Wine's taskbar) exists only there.
#define SKIP_OUTSIDE_THE_TEST_PREFIX() \
  if (!UnderWine()) GTEST_SKIP() << "runs in the Wine test prefix (cmake/run-tests.sh)"

namespace {

// The started program and its hidden window (null if it has none within 15 s).
std::pair<HANDLE, HWND> StartDropleaf() {
  std::wstring path = BuildFolder() + L"Dropleaf.exe", command = L"\"" + path + L"\" --any";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  CreateProcessW(path.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                 &info);
  CloseHandle(info.hThread);
  HWND hidden = nullptr;
  WaitUntil(
      [&] { return (hidden = FindWindowExW(HWND_MESSAGE, nullptr, HIDDEN_WINDOW_CLASS, nullptr)); },
      15000);
  return {info.hProcess, hidden};
}

// The exit code, or -1 if the process still runs after the time; the handle is closed.
long ExitCode(HANDLE process, DWORD milliseconds) {
  DWORD code = STILL_ACTIVE;
  WaitUntil([&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, milliseconds);
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code == STILL_ACTIVE ? -1 : long(code);
}

TEST(RunningProgram, SecondCopyExitsAtOnceAndExitDoesNotWaitForAFeedExchange) {
  SKIP_OUTSIDE_THE_TEST_PREFIX();
  // Where the prefix sends WinHTTP's traffic, a broken proxy answers a byte every 2 s: the
  // first feed refresh stays in flight.
  WSADATA winsock;
  WSAStartup(MAKEWORD(2, 2), &winsock);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(9);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  listen(listener, 1);
  std::atomic<bool> connected{false}, stop{false};
  std::thread proxy([&] {
    SOCKET client = accept(listener, nullptr, nullptr);
    connected = client != INVALID_SOCKET;
    for (const char* answer = "HTTP/1.1 200 Connection established\r\n\r\n"; *answer && !stop;) {
      send(client, answer++, 1, 0);
      for (int waited = 0; waited < 2000 && !stop; waited += 50) Sleep(50);
    }
    closesocket(client);
  });
  ASSERT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, HIDDEN_WINDOW_CLASS, nullptr), nullptr);
  auto [first, hidden] = StartDropleaf();
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(ExitCode(StartDropleaf().first, 5000), 0) << "a second copy exits at once";
  EXPECT_TRUE(WaitUntil([&] { return connected.load(); }, 5000)) << "the refresh is under way";
  const long long start = NowMs();
  PostMessageW(hidden, WM_COMMAND, IDM_EXIT, 0);
  EXPECT_EQ(ExitCode(first, 5000), 0);
  EXPECT_LT(NowMs() - start, 3000) << "about a second for the worker, then the teardown";
  stop = true;
  closesocket(listener);
  proxy.join();
  WSACleanup();
}

// The tooltip shown on resting the mouse on the notification area's last slot; empty when
// there is none. Balloons are tooltip windows too.
std::wstring HoverTrayIcon() {
  RECT tray = {};
  GetWindowRect(FindWindowW(L"Shell_TrayWnd", nullptr), &tray);
  for (POINT at : {POINT{tray.right / 2, tray.top - 100}, POINT{tray.right - 10, tray.top + 10},
                   POINT{tray.right - 8, tray.top + 10}}) {
    SetCursorPos(at.x, at.y);
    INPUT move = {};
    move.type = INPUT_MOUSE;
    move.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &move, sizeof(move));
    PumpMessagesFor(100);
  }
  PumpMessagesFor(1500);  // the tooltip's delay
  wchar_t text[128] = {};
  for (HWND tip = nullptr; (tip = FindWindowExW(nullptr, tip, L"tooltips_class32", nullptr));) {
    if (IsWindowVisible(tip) && !(GetWindowLongW(tip, GWL_STYLE) & 0x40 /* TTS_BALLOON */))
      SendMessageTimeoutW(tip, WM_GETTEXT, 128, LPARAM(text), SMTO_NORMAL, 1000, nullptr);
  }
  return text;
}

int VisibleMenus() {
  int menus = 0;
  for (HWND menu = nullptr; (menu = FindWindowExW(nullptr, menu, L"#32768", nullptr));)
    menus += IsWindowVisible(menu);
  return menus;
}

TEST(RunningProgram, HookMenuTrayIconAndDesktopPasteThenAPromptExit) {
  SKIP_OUTSIDE_THE_TEST_PREFIX();
  RegDeleteTreeW(HKEY_CURRENT_USER, SETTINGS_KEY);  // pasting starts on by default
  const Image image = PatternImage(40, 24);
  ASSERT_TRUE(PutImageOnClipboard(image));
  const auto [program, hiddenWindow] = StartDropleaf();
  HWND hidden = hiddenWindow;  // a structured binding cannot be captured before C++20
  ASSERT_NE(hidden, nullptr);
  auto command = [&](UINT id) {  // carried out when the call returns
    return SendMessageTimeoutW(hidden, WM_COMMAND, id, 0, SMTO_NORMAL, 5000, nullptr) != 0;
  };
  {  // The hook takes Ctrl+V over a folder window only with an image and pasting on.
    TestWindow folder(L"CabinetWClass");
    auto press = [&] {
      PumpMessagesFor(300);  // the program hears of the clipboard's change
      SetForegroundWindow(folder.Get());
      SendCtrlV();
      PumpMessagesFor(400);
      return folder.vKeyDowns;
    };
    EXPECT_EQ(press(), 0) << "swallowed";
    ASSERT_TRUE(PutTextOnClipboard(L"plain text"));
    EXPECT_EQ(press(), 1) << "text on the clipboard";
    ASSERT_TRUE(PutImageOnClipboard(image) && command(IDM_TOGGLE_ENABLED));
    EXPECT_EQ(press(), 2) << "pasting off";
  }

  // One right click sends two events; the second comes while the menu is open.
  PostMessageW(hidden, WM_TRAYICON, 0, MAKELPARAM(WM_RBUTTONUP, TRAY_ICON_ID));
  PostMessageW(hidden, WM_TRAYICON, 0, MAKELPARAM(WM_CONTEXTMENU, TRAY_ICON_ID));
  EXPECT_TRUE(WaitUntil([] { return VisibleMenus() > 0; }, 3000));
  PumpMessagesFor(500);
  EXPECT_EQ(VisibleMenus(), 1);
  SendMessageTimeoutW(hidden, WM_CANCELMODE, 0, 0, SMTO_NORMAL, 2000, nullptr);
  PumpMessagesFor(500);
  EXPECT_EQ(VisibleMenus(), 0) << "no second menu after the first closed";

  // When the shell's notification area is made anew it has lost every icon and says so with
  // a broadcast: the icon comes back, with the tooltip of the switch (off by now).
  EXPECT_EQ(HoverTrayIcon(), L"Dropleaf - 已暂停");
  NOTIFYICONDATAW icon = {};
  icon.cbSize = sizeof(icon);
  icon.hWnd = hidden;
  icon.uID = TRAY_ICON_ID;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
  EXPECT_EQ(HoverTrayIcon(), L"") << "the observation tells an absent icon";
  SendMessageTimeoutW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0,
                      SMTO_ABORTIFHUNG, 3000, nullptr);
  EXPECT_EQ(HoverTrayIcon(), L"Dropleaf - 已暂停");
  ASSERT_TRUE(command(IDM_TOGGLE_ENABLED));
  EXPECT_EQ(HoverTrayIcon(), L"Dropleaf - 已启用");

  // Ctrl+V on the desktop window itself saves into the Desktop folder.
  const std::wstring desktop = KnownDesktop();
  const size_t before = FilesIn(desktop, L"Screenshot_").size();
  SetForegroundWindow(GetDesktopWindow());
  SendCtrlV();
  EXPECT_TRUE(WaitUntil([&] { return FilesIn(desktop, L"Screenshot_").size() > before; }, 5000));
  PumpMessagesFor(300);  // the encoder writes under the final name: let it finish
  const std::wstring pasted = desktop + FilesIn(desktop, L"Screenshot_").back();
  EXPECT_TRUE(DecodeImageFile(pasted).pixels == image.pixels) << "pixel for pixel";
  DeleteFileW(pasted.c_str());

  const long long start = NowMs();
  PostMessageW(hidden, WM_COMMAND, IDM_EXIT, 0);
  EXPECT_EQ(ExitCode(program, 5000), 0);
  EXPECT_LT(NowMs() - start, 1000) << "nothing in flight: the exit is prompt";
  TestWindow folder(L"CabinetWClass");
  SendCtrlV();
  EXPECT_EQ(folder.vKeyDowns, 1) << "after exit the keystroke reaches the window";
}

}  // namespace
