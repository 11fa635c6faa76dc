#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "app/hidden_window.h"
#include "app/settings.h"
#include "app/shell_listener.h"
#include "core/app_state.h"
#include "core/handles.h"
#include "messages/read_state.h"
#include "paste/window_classes.h"
#include "tests/support/test_support.h"

// The real Dropleaf.exe, in the test prefix's virtual desktop. What these tests observe (the
// prefix's loopback proxy, its desktop window) exists only there: elsewhere they skip.
namespace {

using namespace std::string_literals;

// A DWORD as its number, a binary value as its first byte.
std::wstring Stored(const wchar_t* key, const wchar_t* value) {
  wchar_t data[512] = {};
  DWORD size = sizeof(data), type = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, key, value, RRF_RT_ANY, &type, data, &size)) return L"none";
  if (type == REG_BINARY) return L"byte " + std::to_wstring(data[0] & 0xFF);
  return type == REG_DWORD ? std::to_wstring(DWORD(data[0]) | DWORD(data[1]) << 16) : data;
}

// A started program, by default Dropleaf, and Dropleaf's hidden window once there is one (null
// if none comes within 15 s or the program ends first). A program still running when the
// test ends, failed or not, is ended.
struct Started {
  explicit Started(std::wstring command = L"\"" + BuildFolder() + L"Dropleaf.exe\" --any") {
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION info = {};
    CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                   &info);
    CloseHandle(info.hThread);
    process = info.hProcess;
    WaitUntil(
        [&] {
          hidden = FindWindowExW(HWND_MESSAGE, 0, HIDDEN_WINDOW_CLASS, 0);
          return hidden || WaitForSingleObject(process, 0) != WAIT_TIMEOUT;
        },
        15000);
  }
  explicit Started(HANDLE running) : process(running) {}
  Started(const Started&) = delete;
  ~Started() {
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 99);
    CloseHandle(process);
  }
  long ExitCode(DWORD milliseconds) const {  // -1 while it still runs
    DWORD code = STILL_ACTIVE;
    WaitUntil([&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, milliseconds);
    GetExitCodeProcess(process, &code);
    return code == STILL_ACTIVE ? -1 : long(code);
  }
  // The menu's switch, posted: carried out after anything posted before it (a clipboard
  // change's notice), once the stored value reads `expected`.
  bool Toggle(const wchar_t* expected) const {
    PostMessageW(hidden, WM_COMMAND, IDM_TOGGLE_ENABLED, 0);
    return WaitUntil([&] { return Stored(SETTINGS_KEY, SETTINGS_ENABLED_VALUE) == expected; },
                     3000);
  }
  HANDLE process = nullptr;
  HWND hidden = nullptr;
};

// A notification area that is still starting. Shell_NotifyIconW finds it as the first
// "Shell_TrayWnd" window, on Windows and under Wine, and hands it each call in WM_COPYDATA:
// the message number as dwData, the icon's window, id and flags first in the data. It refuses
// the first `refusedAdds` adds, lets the next land while answering as if it had timed out,
// and takes every later one, as a restarted shell does.
struct StartingNotificationArea {
  explicit StartingNotificationArea(int refusedAdds) : refusedAdds(refusedAdds) {
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
    if (data.dwData == NIM_ADD || data.dwData == NIM_MODIFY) {
      // Without NIF_SHOWTIP on every add and modify, hovering the icon shows nothing.
      showTipAlways &= (flags & NIF_SHOWTIP) != 0;
      balloons += (flags & NIF_INFO) != 0;
      // Found by its text: the rest of the data's layout differs between Wine versions.
      const size_t tip = text.find(L"Dropleaf - ");
      if (flags & NIF_TIP) lastTip = tip == text.npos ? L"" : text.substr(tip).data();
      if (data.dwData == NIM_ADD) present = ++adds > refusedAdds;
      return data.dwData == NIM_ADD ? adds > refusedAdds + 1 : present;
    }
    if (data.dwData == NIM_DELETE) present = false;
    return present;
  }
  HWND window = nullptr;
  const int refusedAdds;
  int adds = 0, balloons = 0;
  bool present = false, showTipAlways = true;
  std::wstring lastTip;  // of the last add or modify that set one
};

// Where the test prefix sends WinHTTP's traffic (127.0.0.1:9), a proxy that lets connections
// in and never answers: a feed exchange stays in flight until its 3-s silence time-out.
struct SilentProxy {
  SilentProxy() {
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const sockaddr_in address = {AF_INET, htons(9), {{{127, 0, 0, 1}}}};
    bound = !bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) &&
            !listen(listener, 4);
  }
  ~SilentProxy() { closesocket(listener); }  // Winsock itself ends with the process
  bool Connected() const {                   // a connection waits to be taken
    fd_set waiting;
    FD_ZERO(&waiting);
    FD_SET(listener, &waiting);
    timeval now = {};
    return select(0, &waiting, nullptr, nullptr, &now) == 1;
  }
  SOCKET listener = INVALID_SOCKET;
  bool bound = false;
};

TEST(RunningProgram, TrayIconThroughAStartingShellHookSettingsDesktopPasteMenuAndTaskkill) {
  if (!UnderWine()) GTEST_SKIP() << "runs in the Wine test prefix (cmake/run-tests.sh)";
  const DWORD off = 0;
  RegSetKeyValueW(HKEY_CURRENT_USER, SETTINGS_KEY, SETTINGS_ENABLED_VALUE, REG_DWORD, &off, 4);
  const Image image = PatternImage(40, 24);
  ASSERT_TRUE(PutOnClipboard(image));
  // What earlier uploads left in Dropleaf's own folder: its files older than a day go at start,
  // a newer one and another program's stay.
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring uploads = temp + L"Dropleaf\\"s;
  std::error_code error;
  std::filesystem::remove_all(uploads, error);
  std::filesystem::create_directories(uploads);
  const FILETIME twoDaysAgo = [] {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t = {{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= 2ull * 24 * 3600 * 10000000;
    return FILETIME{t.LowPart, t.HighPart};
  }();
  for (const wchar_t* name : {L"Screenshot_20200101_000000.png", L"~Dropleaf-7-1.tmp",
                              L"Screenshot_20200101_000001_2.png", L"notes.txt"}) {
    const HANDLE file =
        CreateFileW((uploads + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (wcscmp(name, L"Screenshot_20200101_000001_2.png") != 0)  // the newer one
      SetFileTime(file, nullptr, nullptr, &twoDaysAgo);
    CloseHandle(file);
  }
  StartingNotificationArea shell(2);
  const Started program;
  EXPECT_EQ(FilesIn(uploads, L""),
            (std::vector<std::wstring>{L"Screenshot_20200101_000001_2.png", L"notes.txt"}));
  const HWND hidden = program.hidden;
  ASSERT_NE(hidden, nullptr);
  const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  auto broadcastTaskbarCreated = [&] {
    SendMessageTimeoutW(HWND_BROADCAST, taskbarCreated, 0, 0, SMTO_ABORTIFHUNG, 3000, nullptr);
  };
  broadcastTaskbarCreated();  // as early as it can come

  // The shell refused the icon at first: it is asked again until it has it.
  ASSERT_TRUE(WaitUntil([&] { return shell.present; }, 4 * TRAY_RETRY_MS + 2000));
  EXPECT_EQ(shell.lastTip, L"Dropleaf - 已暂停") << "the stored switch's tooltip";

  {  // The hook takes Ctrl+V over a folder window only with an image, pasting on and the
     // focus outside a text box, where the text is pasted instead.
    TestWindow folder(L"CabinetWClass"), fileList(L"DirectUIHWND", folder.Get());
    HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 0, 200, 20, folder.Get(),
                                nullptr, nullptr, nullptr);
    auto press = [&](HWND focus) {
      SetForegroundWindow(folder.Get());
      SetFocus(focus);
      SendCtrlV();
    };
    auto taken = [&](HWND focus) {  // a key taken is a paste, whose folder warning is a balloon
      const int keys = folder.vKeyDowns + fileList.vKeyDowns, balloons = shell.balloons;
      press(focus);
      WaitUntil(
          [&] { return folder.vKeyDowns + fileList.vKeyDowns > keys || shell.balloons > balloons; },
          2000);
      return shell.balloons > balloons;
    };
    EXPECT_FALSE(taken(folder.Get())) << "pasting off";
    ASSERT_TRUE(PutOnClipboard({}, L"plain text"));
    ASSERT_TRUE(program.Toggle(L"1")) << "the switch is stored";
    EXPECT_FALSE(taken(folder.Get())) << "text on the clipboard";
    // Files copied with a preview image beside them: Explorer pastes the files.
    ASSERT_TRUE(PutOnClipboard(image, L"", BuildFolder() + L"Dropleaf.exe"));
    EXPECT_FALSE(taken(folder.Get())) << "a file list beside the image";
    // A copy from Explorer's namespace, a mail client's attachment: file lists too.
    for (const wchar_t* list : {L"Shell IDList Array", L"FileGroupDescriptorW"}) {
      ASSERT_TRUE(PutFormatsOnClipboard(
          {{CF_DIB, DibBytes(image)}, {RegisterClipboardFormatW(list), std::string(16, '\0')}}));
      EXPECT_FALSE(taken(folder.Get())) << list;
    }
    ASSERT_TRUE(PutOnClipboard(image, L"重命名"));
    EXPECT_TRUE(taken(folder.Get()));
    EXPECT_TRUE(taken(fileList.Get())) << "in the file list";
    press(edit);
    wchar_t text[32] = {};
    EXPECT_TRUE(
        WaitUntil([&] { return GetWindowTextW(edit, text, 32) && text == L"重命名"s; }, 2000))
        << "the text box got its paste";
  }

  // Ctrl+V on the desktop window itself saves into the Desktop folder. Clicked, as a user
  // would: SetForegroundWindow does not take the focus from a window of the desktop's own
  // thread (the taskbar).
  const std::wstring desktop = KnownDesktop();
  const size_t before = FilesIn(desktop, L"Screenshot_").size();
  const int balloons = shell.balloons;
  auto clickAndPaste = [] {
    SetCursorPos(700, 300);
    mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
    mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
    EXPECT_TRUE(WaitUntil([] { return GetForegroundWindow() == GetDesktopWindow(); }, 2000));
    SendCtrlV();
  };
  clickAndPaste();
  // Once in a dozen runs here (a fresh prefix) this Ctrl+V brought no balloon at all, cause not
  // found: then the desktop is clicked again. A key taken without a file still fails below.
  if (!WaitUntil([&] { return shell.balloons > balloons; }, 2500)) clickAndPaste();
  std::vector<std::wstring> files;
  EXPECT_TRUE(WaitUntil(  // written under its final name: complete once it decodes whole
      [&] {
        files = FilesIn(desktop, L"Screenshot_");
        return files.size() > before &&
               DecodeImageFile(desktop + files.back()).pixels == image.pixels;
      },
      5000))
      << "balloons: " << shell.balloons - balloons;
  if (files.size() > before) DeleteFileW((desktop + files.back()).c_str());

  // Another program's file dialogs, in a process of their own as a browser's are. Ctrl+V in an
  // Open dialog's empty File name box saves the image into Dropleaf's own folder and puts its
  // full path there, and Enter opens it; text beside the image is the box's to paste; a Save
  // dialog, a name in its box or none, gets the key as it is.
  struct DialogCase {
    const wchar_t* kind;
    std::wstring text;  // on the clipboard beside the image
    std::wstring proposed;
  };
  for (const DialogCase& c :
       {DialogCase{L"item-open"}, DialogCase{L"legacy-open"},
        DialogCase{L"item-open", L"photo.png"}, DialogCase{L"item-save", L"", L"report.png"},
        DialogCase{L"item-save"}, DialogCase{L"legacy-save"}}) {
    const std::wstring chosen = BuildFolder() + L"dialog-chosen.txt";
    DeleteFileW(chosen.c_str());
    ASSERT_TRUE(PutOnClipboard(image, c.text));
    const size_t saved = FilesIn(uploads, L"Screenshot_").size();
    const Started dialog(L"\"" + BuildFolder() + L"tests\\app\\dialog_host.exe\" " + c.kind +
                         L" \"" + chosen + L"\" " + c.proposed);
    HWND box = nullptr;  // the focus of the dialog's thread, once it is in front
    ASSERT_TRUE(WaitUntil(
        [&] {
          DWORD owner = 0;
          GUITHREADINFO info = {sizeof(info)};
          const DWORD thread = GetWindowThreadProcessId(GetForegroundWindow(), &owner);
          box = owner == GetProcessId(dialog.process) && GetGUIThreadInfo(thread, &info)
                    ? info.hwndFocus
                    : nullptr;
          return box && GetWindowClassName(box) == L"Edit";
        },
        10000))
        << c.kind;
    PumpMessagesFor(300);
    const int balloonsBefore = shell.balloons;
    SendCtrlV();
    wchar_t text[MAX_PATH] = {};
    auto boxText = [&] {  // another process's edit: its text comes by message
      text[0] = 0;
      SendMessageTimeoutW(box, WM_GETTEXT, MAX_PATH, LPARAM(text), SMTO_ABORTIFHUNG, 1000, nullptr);
      return std::wstring(text);
    };
    if (std::wstring(c.kind).find(L"save") != std::wstring::npos || !c.text.empty()) {
      const std::wstring expected = c.text.empty() ? c.proposed : c.text;
      EXPECT_TRUE(WaitUntil([&] { return boxText() == expected; }, 2000)) << boxText();
      PumpMessagesFor(500);
      EXPECT_EQ(boxText(), expected) << c.kind;
      EXPECT_EQ(shell.balloons, balloonsBefore) << c.kind;
      EXPECT_EQ(FilesIn(uploads, L"Screenshot_").size(), saved) << "no PNG for " << c.kind;
      PostMessageW(GetForegroundWindow(), WM_COMMAND, IDCANCEL, 0);
      EXPECT_NE(dialog.ExitCode(5000), -1);
      continue;
    }
    EXPECT_TRUE(WaitUntil([&] { return boxText().rfind(uploads, 0) == 0; }, 5000)) << boxText();
    const std::wstring path = boxText();
    EXPECT_EQ(DecodeImageFile(path).pixels, image.pixels) << c.kind;
    EXPECT_TRUE(WaitUntil([&] { return shell.balloons > balloonsBefore; }, 3000));
    keybd_event(VK_RETURN, 0, 0, 0), keybd_event(VK_RETURN, 0, KEYEVENTF_KEYUP, 0);
    EXPECT_EQ(dialog.ExitCode(5000), 0) << c.kind;
    const std::string returned = ReadBytes(chosen);
    EXPECT_EQ(std::wstring((const wchar_t*)returned.data(), returned.size() / 2), path) << c.kind;
    DeleteFileW(path.c_str());
  }

  // Every add and change of the icon kept the standard tooltip, the pastes' balloons included.
  EXPECT_TRUE(shell.showTipAlways);

  // Explorer restarts, again and again: its new notification area announces itself, and the
  // icon is back each time, with the tooltip of the switch, off again by now.
  ASSERT_TRUE(program.Toggle(L"0"));
  EXPECT_TRUE(WaitUntil([&] { return shell.lastTip == L"Dropleaf - 已暂停"; }, 2000))
      << "the toggle's tooltip";
  for (int restart = 0; restart < 5; ++restart) {
    NOTIFYICONDATAW icon = {sizeof(icon), hidden, TRAY_ICON_ID};
    Shell_NotifyIconW(NIM_DELETE, &icon);
    shell.lastTip.clear();
    broadcastTaskbarCreated();
    EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &icon)) << restart;  // the icon is there
    EXPECT_EQ(shell.lastTip, L"Dropleaf - 已暂停") << restart;
  }

  // One right click sends two events; the second comes while the menu is open.
  auto VisibleMenus = [] {
    int menus = 0;
    for (HWND menu = nullptr; (menu = FindWindowExW(nullptr, menu, L"#32768", nullptr));)
      menus += IsWindowVisible(menu);
    return menus;
  };
  PostMessageW(hidden, WM_TRAYICON, 0, MAKELPARAM(WM_RBUTTONUP, TRAY_ICON_ID));
  PostMessageW(hidden, WM_TRAYICON, 0, MAKELPARAM(WM_CONTEXTMENU, TRAY_ICON_ID));
  EXPECT_TRUE(WaitUntil([&] { return VisibleMenus() > 0; }, 3000));
  PumpMessagesFor(500);
  EXPECT_EQ(VisibleMenus(), 1);
  // Its owner is in front, a top-level window of Dropleaf's (a message-only one never can be
  // on Windows, and the menu would then stay open on a click outside it); its first command
  // still switches pasting.
  DWORD owner = 0;
  GetWindowThreadProcessId(GetForegroundWindow(), &owner);
  EXPECT_EQ(owner, GetProcessId(program.process));
  EXPECT_EQ(GetAncestor(GetForegroundWindow(), GA_PARENT), GetDesktopWindow());
  for (BYTE key : {VK_DOWN, VK_RETURN}) {
    keybd_event(key, 0, 0, 0), keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
  }
  EXPECT_TRUE(
      WaitUntil([&] { return Stored(SETTINGS_KEY, SETTINGS_ENABLED_VALUE) == L"1"; }, 3000));
  EXPECT_TRUE(WaitUntil([&] { return VisibleMenus() == 0; }, 2000));
  PumpMessagesFor(500);
  EXPECT_EQ(VisibleMenus(), 0) << "no second menu after the first closed";

  // taskkill without /f posts WM_CLOSE to each of the program's top-level windows.
  EXPECT_EQ(Started(L"taskkill.exe /im Dropleaf.exe").ExitCode(5000), 0);
  EXPECT_EQ(program.ExitCode(2000), 0);
  EXPECT_FALSE(shell.present) << "no icon is left behind";
}

// The setup program as a user lives with it: a silent install; the installed copy until a
// sign-out; the copy again (a second one exits at once), through its menu; an upgrade over it;
// and a silent uninstall that leaves nothing of Dropleaf behind. Each step has its time-out.
TEST(SetupProgram, InstallRunSignOutUpgradeAndUninstallWithoutATrace) {
  if (!UnderWine()) GTEST_SKIP() << "runs in the Wine test prefix (cmake/run-tests.sh)";
  const std::wstring setup = BuildFolder() + L"Dropleaf-" DROPLEAF_VERSION L"-setup.exe";
  if (!std::filesystem::exists(setup)) GTEST_SKIP() << "no setup program: makensis is missing";
  wchar_t local[MAX_PATH] = {}, shortcut[MAX_PATH] = {};  // and the Start menu's Programs
  ExpandEnvironmentStringsW(L"%LOCALAPPDATA%\\Programs\\Dropleaf", local, MAX_PATH);
  ExpandEnvironmentStringsW(L"%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs\\Dropleaf.lnk",
                            shortcut, MAX_PATH);
  const std::wstring folder = local, program = folder + L"\\Dropleaf.exe",
                     uninstaller = folder + L"\\uninstall.exe", quoted = L"\"" + program + L"\"";
  const wchar_t entry[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Dropleaf";

  ASSERT_EQ(Started(L"\"" + setup + L"\" /S").ExitCode(30000), 0);
  for (const std::wstring& file : {program, uninstaller, std::wstring(shortcut)})
    EXPECT_TRUE(std::filesystem::exists(file)) << file;
  std::wstring values;  // of the Apps & features entry, in this order
  for (const wchar_t* name :
       {L"DisplayName", L"DisplayVersion", L"Publisher", L"DisplayIcon", L"InstallLocation",
        L"UninstallString", L"QuietUninstallString", L"NoModify", L"NoRepair"})
    values += Stored(entry, name) + L"|";
  EXPECT_EQ(values, L"Dropleaf|" DROPLEAF_VERSION L"|Velmorra|" + program + L"|" + folder + L"|\"" +
                        uninstaller + L"\"|\"" + uninstaller + L"\" /S|1|1|");
  EXPECT_GT(wcstol(Stored(entry, L"EstimatedSize").c_str(), nullptr, 10), 100) << "in KB";

  const SilentProxy proxy;
  ASSERT_TRUE(proxy.bound);
  RegDeleteTreeW(HKEY_CURRENT_USER, SETTINGS_KEY);  // pasting starts on by default
  RegDeleteKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE);
  ASSERT_TRUE(PutOnClipboard(PatternImage(8, 8)));
  StartingNotificationArea shell(0);  // ready: the first add lands
  {
    const Started first(quoted);
    ASSERT_NE(first.hidden, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return proxy.Connected() && shell.present; }, 5000));
    EXPECT_EQ(shell.lastTip, L"Dropleaf - 已启用") << "the stored switch's tooltip";

    // An installer's Restart Manager, or signing out, with the first feed exchange in flight:
    // asked, then told, at the listener.
    const HWND listener = FindWindowW(SHELL_LISTENER_CLASS, nullptr);
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(listener, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP,
                                    SMTO_NORMAL, 2000, &answer));
    EXPECT_EQ(answer, DWORD_PTR(TRUE));
    const long long start = NowMs();
    SendNotifyMessageW(listener, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
    {  // While the teardown waits for the worker, Ctrl+V is the folder window's again.
      TestWindow folder(L"CabinetWClass");
      SendCtrlV();
      EXPECT_EQ(WaitForSingleObject(first.process, 0), DWORD(WAIT_TIMEOUT)) << "still ending";
      EXPECT_TRUE(WaitUntil([&] { return folder.vKeyDowns == 1; }, 1000)) << "the key arrived";
    }
    // Wine may end the process itself after WM_ENDSESSION, with code 1: the code tells nothing.
    EXPECT_NE(first.ExitCode(2000), -1) << "about a second for the worker, then the teardown";
    EXPECT_LT(NowMs() - start, 2500);
    EXPECT_FALSE(shell.present) << "no icon is left behind";
  }

  // Started again, through a second drive letter for the same folder (as SUBST or a mapped
  // drive gives): another spelling of the installed file, which the setup and the uninstaller
  // still know as theirs. Through its menu, run at sign-in is the quoted program path, then
  // none, then again; pasting is switched off; and a message is read.
  const std::wstring spelled = L"\"Y:" + program.substr(wcslen(L"C:\\users")) + L"\"";
  Started installed(spelled);
  ASSERT_NE(installed.hidden, nullptr);
  EXPECT_EQ(Started(quoted).ExitCode(5000), 0) << "a second copy exits at once";
  // Task Manager's Startup switch keeps the Run value and marks it beside it: 02 enabled, 03
  // and a time disabled. Enabled, the option reads on and switches off, the mark going with
  // it; disabled, it reads off, and switching it on clears the mark. Another program's stays.
  auto markStartup = [](const wchar_t* name, BYTE first) {
    const BYTE mark[12] = {first, 0, 0, 0, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0xD9, 0x01};
    RegSetKeyValueW(HKEY_CURRENT_USER, STARTUP_APPROVED_KEY, name, REG_BINARY, mark, 12);
  };
  const std::wstring on = spelled + L"|none";
  // A value that names a deleted copy is no one's: read as off, switched on it names this one.
  const wchar_t gone[] = L"\"C:\\gone\\Dropleaf.exe\"";
  RegSetKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE, REG_SZ, gone, sizeof(gone));
  std::vector<std::wstring> runAndMark;
  for (BYTE mark : {0, 0, 0, 2, 0, 3}) {
    if (mark) markStartup(RUN_VALUE, mark);
    SendMessageTimeoutW(installed.hidden, WM_COMMAND, IDM_TOGGLE_AUTOSTART, 0, SMTO_NORMAL, 5000,
                        0);
    runAndMark.push_back(Stored(RUN_KEY, RUN_VALUE) + L"|" +
                         Stored(STARTUP_APPROVED_KEY, RUN_VALUE));
  }
  EXPECT_EQ(runAndMark, (std::vector<std::wstring>{on, L"none|none", on, L"none|none", on, on}));
  markStartup(RUN_VALUE, 3);  // switched off in Task Manager: the uninstall takes the mark too
  markStartup(L"Other tool", 3);
  EXPECT_TRUE(installed.Toggle(L"0"));
  RegSetKeyValueW(HKEY_CURRENT_USER, READ_STATE_KEY_PATH_W, L"Read", REG_SZ, L"x", 4);
  const wchar_t otherTool[] = L"Software\\Velmorra\\Messages\\Other tool";  // not Dropleaf's
  RegSetKeyValueW(HKEY_CURRENT_USER, otherTool, L"Read", REG_SZ, L"y", 4);

  // An upgrade over it: the running copy is closed, its file replaced (the old one is told
  // by a date the package does not carry), and a copy runs again.
  const FILETIME old = {0, 0x01C00000};  // in 1999
  HANDLE file =
      CreateFileW(program.c_str(), FILE_WRITE_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, 0);
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &old));
  CloseHandle(file);
  EXPECT_EQ(Started(L"\"" + setup + L"\" /S").ExitCode(30000), 0);
  EXPECT_EQ(installed.ExitCode(0), 0) << "the running copy was closed, as taskkill closes it";
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  GetFileAttributesExW(program.c_str(), GetFileExInfoStandard, &attributes);
  EXPECT_NE(attributes.ftLastWriteTime.dwHighDateTime, old.dwHighDateTime) << "replaced";
  HWND hidden = nullptr;
  EXPECT_TRUE(WaitUntil(
      [&] { return (hidden = FindWindowExW(HWND_MESSAGE, 0, HIDDEN_WINDOW_CLASS, 0)); }, 10000))
      << "a copy runs again";
  DWORD id = 0;
  GetWindowThreadProcessId(hidden, &id);
  const Started again(
      OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));

  {  // The program file held open by another program: the setup stops with code 3, not the
     // in-use 2 (it closed the running copy first); run in place, the uninstaller stops with 3
     // too, before it touches the entry.
    HANDLE held = CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(Started(L"\"" + setup + L"\" /S").ExitCode(30000), 3);
    EXPECT_EQ(Started(L"\"" + uninstaller + L"\" /S _?=" + folder).ExitCode(30000), 3);
    CloseHandle(held);
    EXPECT_EQ(Stored(entry, L"DisplayName"), L"Dropleaf");
  }
  // The uninstaller hands its work to a copy of itself and returns: what it leaves is
  // waited for.
  EXPECT_EQ(Started(L"\"" + uninstaller + L"\" /S").ExitCode(30000), 0);
  EXPECT_NE(again.ExitCode(15000), -1) << "the running copy was closed";
  auto left = [&] {
    std::wstring found;
    for (const std::wstring& path : {program, uninstaller, folder, std::wstring(shortcut)})
      if (std::filesystem::exists(path)) found += path + L"; ";
    for (const wchar_t* key : {entry, SETTINGS_KEY, READ_STATE_KEY_PATH_W}) {
      ScopedRegKey opened;
      if (!RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, opened.Put())) found += key + L"; "s;
    }
    if (Stored(RUN_KEY, RUN_VALUE) != L"none") found += L"the Run value; ";
    if (Stored(STARTUP_APPROVED_KEY, RUN_VALUE) != L"none") found += L"the Startup mark";
    return found;
  };
  EXPECT_TRUE(WaitUntil([&] { return left().empty(); }, 15000)) << left();
  EXPECT_EQ(Stored(otherTool, L"Read") + Stored(STARTUP_APPROVED_KEY, L"Other tool"), L"ybyte 3")
      << "another program's settings stay";

  // A portable copy, run from elsewhere with run at sign-in naming it, is the user's: a setup
  // and an uninstall leave it running and its Run value as it was.
  const std::wstring portable = BuildFolder() + L"portable\\Dropleaf.exe";
  std::filesystem::create_directories(BuildFolder() + L"portable");
  CopyFileW((BuildFolder() + L"Dropleaf.exe").c_str(), portable.c_str(), FALSE);
  const Started user(L"\"" + portable + L"\"");
  ASSERT_NE(user.hidden, nullptr);
  SendMessageTimeoutW(user.hidden, WM_COMMAND, IDM_TOGGLE_AUTOSTART, 0, SMTO_NORMAL, 5000, 0);
  EXPECT_EQ(Started(L"\"" + setup + L"\" /S").ExitCode(30000), 0);
  // Run in place (_?=), the uninstaller returns only when done, and leaves itself behind (its
  // file stays busy for a moment after it ends).
  std::error_code error;
  EXPECT_EQ(Started(L"\"" + uninstaller + L"\" /S _?=" + folder).ExitCode(30000), 0);
  WaitUntil([&] { return std::filesystem::remove_all(folder, error), !error; }, 5000);
  EXPECT_EQ(user.ExitCode(0), -1) << "the portable copy still runs";
  EXPECT_EQ(Stored(RUN_KEY, RUN_VALUE), L"\"" + portable + L"\"");
}

}  // namespace
