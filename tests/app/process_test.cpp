#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/hidden_window.h"
#include "app/settings.h"
#include "app/shell_listener.h"
#include "core/app_state.h"
#include "tests/support/test_support.h"

// The real Dropleaf.exe, in the test prefix's virtual desktop. What these tests observe (the
// prefix's loopback proxy, its desktop window) exists only there.
#define SKIP_OUTSIDE_THE_TEST_PREFIX() \
  if (!UnderWine()) GTEST_SKIP() << "runs in the Wine test prefix (cmake/run-tests.sh)"

namespace {

// A started copy of the program and its hidden window (null if it has none within 15 s).
// A copy still running when the test ends, failed or not, is ended with it.
struct Dropleaf {
  Dropleaf() {
    std::wstring path = BuildFolder() + L"Dropleaf.exe", command = L"\"" + path + L"\" --any";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    CreateProcessW(path.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                   &startup, &info);
    CloseHandle(info.hThread);
    process = info.hProcess;
    WaitUntil([&] { return (hidden = FindWindowExW(HWND_MESSAGE, 0, HIDDEN_WINDOW_CLASS, 0)); },
              15000);
  }
  Dropleaf(const Dropleaf&) = delete;
  ~Dropleaf() {
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 99);
    CloseHandle(process);
  }
  long ExitCode(DWORD milliseconds) const {  // -1 while it still runs
    DWORD code = STILL_ACTIVE;
    WaitUntil([&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, milliseconds);
    GetExitCodeProcess(process, &code);
    return code == STILL_ACTIVE ? -1 : long(code);
  }
  bool Command(UINT id) const {  // carried out when the call returns
    return SendMessageTimeoutW(hidden, WM_COMMAND, id, 0, SMTO_NORMAL, 5000, nullptr) != 0;
  }
  HANDLE process = nullptr;
  HWND hidden = nullptr;
};

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
  RegDeleteTreeW(HKEY_CURRENT_USER, SETTINGS_KEY);  // pasting starts on by default
  ASSERT_TRUE(PutImageOnClipboard(PatternImage(8, 8)));
  const Dropleaf first;
  ASSERT_NE(first.hidden, nullptr);
  EXPECT_EQ(Dropleaf().ExitCode(5000), 0) << "a second copy exits at once";
  EXPECT_TRUE(WaitUntil([&] { return connected.load(); }, 5000)) << "the refresh is under way";
  const long long start = NowMs();
  PostMessageW(first.hidden, WM_COMMAND, IDM_EXIT, 0);
  {  // While the exit waits for the worker, Ctrl+V is the folder window's again.
    TestWindow folder(L"CabinetWClass");
    SendCtrlV();
    EXPECT_EQ(WaitForSingleObject(first.process, 0), DWORD(WAIT_TIMEOUT)) << "still exiting";
    EXPECT_EQ(folder.vKeyDowns, 1) << "the key reached the window";
  }
  EXPECT_EQ(first.ExitCode(5000), 0);
  EXPECT_LT(NowMs() - start, 3000) << "about a second for the worker, then the teardown";
  stop = true;
  closesocket(listener);
  proxy.join();
  WSACleanup();
}

// A notification area that is still starting. Shell_NotifyIconW finds it as the first
// "Shell_TrayWnd" window, on Windows and under Wine, and hands it each call in WM_COPYDATA:
// the message number as dwData, the icon's window, id and flags first in the data. It refuses
// the first two adds, lets the third land while answering as if it had timed out, and takes
// every later one, as a restarted shell does.
struct StartingNotificationArea {
  StartingNotificationArea() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
      auto* self = reinterpret_cast<StartingNotificationArea*>(GetWindowLongPtrW(window, 0));
      if (message != WM_COPYDATA || !self) return DefWindowProcW(window, message, wParam, lParam);
      return LRESULT(self->Take(*reinterpret_cast<const COPYDATASTRUCT*>(lParam)));
    };
    windowClass.cbWndExtra = sizeof(void*);
    windowClass.lpszClassName = L"Shell_TrayWnd";
    RegisterClassW(&windowClass);
    window = CreateWindowExW(WS_EX_TOPMOST, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                             nullptr, nullptr, nullptr);
    SetWindowLongPtrW(window, 0, LONG_PTR(this));
  }
  ~StartingNotificationArea() { DestroyWindow(window); }
  bool Take(const COPYDATASTRUCT& data) {
    const std::wstring_view text(static_cast<const wchar_t*>(data.lpData), data.cbData / 2);
    const UINT flags = static_cast<const UINT*>(data.lpData)[2];
    if (data.dwData == NIM_MODIFY) {
      modifiesShowTip &= (flags & NIF_SHOWTIP) != 0;
      balloons += (flags & NIF_INFO) != 0;
    } else if (data.dwData == NIM_ADD) {
      present = ++adds >= 3;
      // Found by its text: the rest of the data's layout differs between Wine versions.
      const size_t tip = text.find(L"Dropleaf - ");
      addedTip = tip == text.npos ? L"" : text.substr(tip).data();
    } else if (data.dwData == NIM_DELETE) {
      present = false;
    }
    return data.dwData == NIM_ADD ? adds > 3 : present;
  }
  HWND window = nullptr;
  int adds = 0, balloons = 0;
  bool present = false, modifiesShowTip = true;
  std::wstring addedTip;  // the last add's tooltip
};

bool IconCall(HWND hidden, DWORD message) {  // as the test process: NIM_MODIFY tells presence
  NOTIFYICONDATAW icon = {};
  icon.cbSize = sizeof(icon);
  icon.hWnd = hidden;
  icon.uID = TRAY_ICON_ID;
  return Shell_NotifyIconW(message, &icon);
}

std::wstring Stored(const wchar_t* key, const wchar_t* value) {  // a DWORD as its number
  wchar_t data[512] = {};
  DWORD size = sizeof(data), type = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, key, value, RRF_RT_ANY, &type, data, &size)) return L"none";
  DWORD number = 0;
  memcpy(&number, data, sizeof(number));
  return type == REG_DWORD ? std::to_wstring(number) : data;
}

int VisibleMenus() {
  int menus = 0;
  for (HWND menu = nullptr; (menu = FindWindowExW(nullptr, menu, L"#32768", nullptr));)
    menus += IsWindowVisible(menu);
  return menus;
}

TEST(RunningProgram, TrayIconThroughAStartingShellHookSettingsDesktopPasteMenuAndExit) {
  SKIP_OUTSIDE_THE_TEST_PREFIX();
  RegDeleteTreeW(HKEY_CURRENT_USER, SETTINGS_KEY);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE);
  const DWORD off = 0;
  RegSetKeyValueW(HKEY_CURRENT_USER, SETTINGS_KEY, SETTINGS_ENABLED_VALUE, REG_DWORD, &off, 4);
  const Image image = PatternImage(40, 24);
  ASSERT_TRUE(PutImageOnClipboard(image));
  StartingNotificationArea shell;
  const Dropleaf program;
  const HWND hidden = program.hidden;
  ASSERT_NE(hidden, nullptr);
  const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  auto broadcastTaskbarCreated = [&] {
    SendMessageTimeoutW(HWND_BROADCAST, taskbarCreated, 0, 0, SMTO_ABORTIFHUNG, 3000, nullptr);
  };
  broadcastTaskbarCreated();  // as early as it can come

  // The shell refused the icon at first: it is asked again until it has it, then no more.
  ASSERT_TRUE(WaitUntil([&] { return shell.present; }, 4 * TRAY_RETRY_MS + 2000));
  const int adds = shell.adds;
  PumpMessagesFor(TRAY_RETRY_MS + 500);
  EXPECT_EQ(shell.adds, adds) << "no add after the shell took the icon";
  EXPECT_EQ(shell.addedTip, L"Dropleaf - 已暂停") << "the stored switch's tooltip";

  {  // The hook takes Ctrl+V over a folder window only with an image, pasting on and the
     // focus outside a text box, where the text is pasted instead.
    TestWindow folder(L"CabinetWClass"), fileList(L"DirectUIHWND", folder.Get());
    HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 0, 200, 20, folder.Get(),
                                nullptr, nullptr, nullptr);
    auto press = [&](HWND focus) {
      PumpMessagesFor(300);  // the program hears of the clipboard's change
      SetForegroundWindow(folder.Get());
      SetFocus(focus);
      SendCtrlV();
      PumpMessagesFor(400);
      return folder.vKeyDowns + fileList.vKeyDowns;
    };
    EXPECT_EQ(press(folder.Get()), 1) << "pasting off";
    ASSERT_TRUE(program.Command(IDM_TOGGLE_ENABLED));
    EXPECT_EQ(Stored(SETTINGS_KEY, SETTINGS_ENABLED_VALUE), L"1");
    EXPECT_EQ(press(folder.Get()), 1) << "swallowed";
    EXPECT_EQ(press(fileList.Get()), 1) << "swallowed in the file list";
    ASSERT_TRUE(PutImageOnClipboard(image, L"重命名"));
    press(edit);
    wchar_t text[32] = {};
    GetWindowTextW(edit, text, 32);
    EXPECT_STREQ(text, L"重命名") << "the text box got its paste";
    ASSERT_TRUE(PutTextOnClipboard(L"plain text"));
    EXPECT_EQ(press(folder.Get()), 2) << "text on the clipboard";
    ASSERT_TRUE(PutImageOnClipboard(image));
  }

  // Run at sign-in: the program's quoted path, then nothing.
  ASSERT_TRUE(program.Command(IDM_TOGGLE_AUTOSTART));
  EXPECT_EQ(Stored(RUN_KEY, RUN_VALUE), L"\"" + BuildFolder() + L"Dropleaf.exe\"");
  ASSERT_TRUE(program.Command(IDM_TOGGLE_AUTOSTART));
  EXPECT_EQ(Stored(RUN_KEY, RUN_VALUE), L"none");

  // Ctrl+V on the desktop window itself saves into the Desktop folder. Clicked, as a user
  // would: SetForegroundWindow does not take the focus from a window of the desktop's own
  // thread (the taskbar).
  const std::wstring desktop = KnownDesktop();
  const size_t before = FilesIn(desktop, L"Screenshot_").size();
  SetCursorPos(700, 300);
  for (DWORD button : {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}) {
    INPUT click = {};
    click.type = INPUT_MOUSE;
    click.mi.dwFlags = button;
    SendInput(1, &click, sizeof(click));
  }
  PumpMessagesFor(300);
  SendCtrlV();
  EXPECT_TRUE(WaitUntil([&] { return FilesIn(desktop, L"Screenshot_").size() > before; }, 5000));
  PumpMessagesFor(300);  // the encoder writes under the final name: let it finish
  const std::vector<std::wstring> files = FilesIn(desktop, L"Screenshot_");
  ASSERT_GT(files.size(), before);
  EXPECT_TRUE(DecodeImageFile(desktop + files.back()).pixels == image.pixels) << "pixel for pixel";
  DeleteFileW((desktop + files.back()).c_str());

  // Every change of the icon keeps the standard tooltip, the paste's balloon included.
  EXPECT_TRUE(shell.modifiesShowTip);
  EXPECT_GT(shell.balloons, 0);

  // Explorer restarts, again and again: its new notification area announces itself, and the
  // icon is back each time, with the tooltip of the switch (off again by now).
  ASSERT_TRUE(program.Command(IDM_TOGGLE_ENABLED));
  for (int restart = 0; restart < 5; ++restart) {
    IconCall(hidden, NIM_DELETE);
    broadcastTaskbarCreated();
    EXPECT_TRUE(IconCall(hidden, NIM_MODIFY)) << restart;
    EXPECT_EQ(shell.addedTip, L"Dropleaf - 已暂停") << restart;
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

  const long long start = NowMs();
  PostMessageW(hidden, WM_COMMAND, IDM_EXIT, 0);
  EXPECT_EQ(program.ExitCode(5000), 0);
  EXPECT_LT(NowMs() - start, 1000) << "nothing in flight: the exit is prompt";
  EXPECT_FALSE(shell.present) << "no icon is left behind";
  TestWindow folder(L"CabinetWClass");
  SendCtrlV();
  EXPECT_EQ(folder.vKeyDowns, 1) << "after exit the keystroke reaches the window";
}

}  // namespace
