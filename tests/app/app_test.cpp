#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "core/app_state.h"
#include "paste/clipboard_formats.h"
#include "paste/hook_thread.h"
#include "paste/keyboard_hook.h"
#include "paste/open_dialog.h"
#include "paste/target_folder.h"
#include "tests/support/test_support.h"

namespace {

TEST(HookDecision, OnlyAFreshPlainCtrlVWithAnImageOverExplorerOrTheDesktopIsTaken) {
  KeyEventInputs press;
  press.vkCode = 'V';
  press.controlHeld = press.pastingEnabled = press.clipboardHasImage = true;
  // "#32769" is the desktop window itself: what a click on the desktop brings forward in Wine.
  for (const wchar_t* name :
       {L"CabinetWClass", L"ExploreWClass", L"Progman", L"WorkerW", L"#32769"}) {
    press.foregroundClass = name;
    EXPECT_EQ(DecideKeyEvent(press), HookAction::SwallowAndPost) << name;
  }
  // Each row changes one input: the class's letter case, another window, no Control, Shift,
  // Alt (and AltGr), pasting off, no image, auto-repeat (or V before Control), a key-up, the
  // focus in a text box (the rename box, the address bar, the search box).
  for (int row = 0; row < 10; ++row) {
    KeyEventInputs i = press;
    const wchar_t* other[] = {L"cabinetwclass", L"Notepad"};
    if (row < 2) i.foregroundClass = other[row];
    i.controlHeld = row != 2, i.shiftHeld = row == 3, i.altHeld = row == 4;
    i.pastingEnabled = row != 5, i.clipboardHasImage = row != 6, i.previousVKeyDown = row == 7;
    if (row == 8) i.message = WM_KEYUP;
    i.focusInTextBox = row == 9;
    EXPECT_EQ(DecideKeyEvent(i), HookAction::PassOn) << "row " << row;
  }
  // A text box by its class, where no caret shows (focus first, then its parents): the rename
  // box, Windows 10's search box (its focus a DirectUIHWND like the file list's), XAML hosts.
  using Classes = std::vector<std::wstring>;
  for (const Classes& classes : {Classes{L"Edit", L"CabinetWClass"},
                                 {L"DirectUIHWND", L"SearchEditBoxWrapperClass"},
                                 {L"Windows.UI.Input.InputSite.WindowClass"},
                                 {L"Microsoft.UI.Content.DesktopChildSiteBridge"},
                                 {L"Windows.UI.Composition.DesktopWindowContentBridge"}})
    EXPECT_TRUE(IsTextBoxFocus(classes, false)) << classes[0];
  EXPECT_FALSE(IsTextBoxFocus({L"DirectUIHWND", L"DUIViewWndClassName", L"CabinetWClass"}, false));
  EXPECT_TRUE(IsTextBoxFocus({L"DirectUIHWND"}, true)) << "a caret that shows";

  // An Open dialog's empty File name box takes it, unless text is on the clipboard, which the
  // box pastes itself; and only a dialog with its focus there, its OK button no Save, its box
  // answering and empty, its program not elevated is one.
  KeyEventInputs dialog = press;
  dialog.foregroundClass = L"#32770", dialog.emptyOpenDialogBox = true;
  EXPECT_EQ(DecideKeyEvent(dialog), HookAction::SwallowAndPost);
  dialog.clipboardHasText = true;
  EXPECT_EQ(DecideKeyEvent(dialog), HookAction::PassOn);
  OpenDialogFacts open = {L"#32770", true, true, false, true, 0, L"打开(&O)", L"保存(&S)"};
  EXPECT_TRUE(IsEmptyOpenDialogBox(open));
  for (int row = 0; row < 7; ++row) {
    OpenDialogFacts f = open;
    if (row == 0) f.className = L"Notepad";
    f.hasOkButton = row != 1, f.focusInFileNameBox = row != 2, f.elevated = row == 3;
    f.boxAnswered = row != 4, f.boxLength = row == 5 ? 10 : 0;
    if (row == 6) f.okText = L"保存";  // the Save label without its access key
    EXPECT_FALSE(IsEmptyOpenDialogBox(f)) << "row " << row;
  }
  // Dropleaf's own files in that folder go after a day; another program's never.
  const uint64_t day = 24 * 3600;
  EXPECT_TRUE(IsOldDialogFile(L"Screenshot_20250314_091502.png", day + 1));
  EXPECT_TRUE(IsOldDialogFile(L"Screenshot_20250314_091502_9999.png", day + 1));
  EXPECT_TRUE(IsOldDialogFile(L"~Dropleaf-12-3.tmp", day + 1));
  EXPECT_FALSE(IsOldDialogFile(L"Screenshot_20250314_091502.png", day - 1));
  for (const wchar_t* other : {L"Screenshot_2025031_091502.png", L"Screenshot_20250314_091502.jpg",
                               L"Screenshot_20250314_091502_x.png", L"notes.txt", L"~Dropleaf.tmp"})
    EXPECT_FALSE(IsOldDialogFile(other, 10 * day)) << other;
}

// The hook runs on its own thread: typing into another program's window never waits while
// the user-interface thread is busy (a long paste), and a fresh hook replacing it every 20 ms
// loses no key, sees none twice, and takes over from one that Windows removed.
TEST(KeyboardHookThread, TypingIsNotDelayedWhileTheUserInterfaceThreadIsBusy) {
  TestWindow hidden(L"Dropleaf.Test.Hidden", HWND_MESSAGE);
  AppState.pastingEnabled.exchange(true);
  ASSERT_TRUE(PutOnClipboard(PatternImage(2, 2)));
  ASSERT_TRUE(StartKeyboardHookThread(hidden.Get(), 20));
  std::atomic<HWND> folderWindow{nullptr};
  std::atomic<bool> done{false};
  std::vector<long long> delays;  // of five A keys typed while this thread sleeps
  int vKeyDowns = 0;
  std::thread folderThread([&] {
    TestWindow folder(L"CabinetWClass");
    long long sent = 0;
    folder.onMessage = [&](UINT message, WPARAM key) {
      if (message == WM_KEYDOWN && key == 'A') delays.push_back(NowMs() - sent);
    };
    folderWindow = folder.Get();
    for (int key = 0; key < 5; ++key) {
      sent = NowMs();
      keybd_event('A', 0, 0, 0);
      keybd_event('A', 0, KEYEVENTF_KEYUP, 0);
      PumpMessagesFor(400);
    }
    WaitUntil([&] { return done.load(); }, 20000);
    vKeyDowns = folder.vKeyDowns;
  });
  EXPECT_TRUE(WaitUntil([&] { return folderWindow.load() != nullptr; }, 5000));
  Sleep(2500);  // busy
  SendCtrlV();  // right after the busy spell: still taken
  EXPECT_TRUE(WaitUntil([&] { return hidden.pasteRequests == 1; }, 2000));
  // As Windows does to a hook that missed its time-out: removed, and nobody is told.
  UnhookWindowsHookEx(AppState.keyboardHook);
  PumpMessagesFor(300);
  EXPECT_EQ(hidden.pasteRequests, 1) << "one press, one request";
  SendCtrlV();
  EXPECT_TRUE(WaitUntil([&] { return hidden.pasteRequests == 2; }, 2000)) << "a fresh hook took it";
  EXPECT_EQ(hidden.lastTarget, folderWindow.load());
  // The clipboard is asked at the press: files alone are Explorer's, its own PNG is an image.
  ASSERT_TRUE(PutOnClipboard({}, L"", BuildFolder() + L"Dropleaf.exe"));
  SendCtrlV();
  ASSERT_TRUE(PutFormatsOnClipboard({{PngClipboardFormat(), "\x89PNG"}}));
  SendCtrlV();
  EXPECT_TRUE(WaitUntil([&] { return hidden.pasteRequests == 3; }, 2000));
  done = true;
  folderThread.join();
  StopKeyboardHookThread();
  EXPECT_EQ(vKeyDowns, 1) << "only the file list's Ctrl+V reached the folder window";
  ASSERT_EQ(delays.size(), 5u);
  for (long long delay : delays) EXPECT_LT(delay, 200);
}

// The program's icon, as the tray (small) and windows and the shell (large) ask for it.
TEST(ProgramIcon, LoadsAtTheSmallAndTheLargeSizes) {
  for (int size : {GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CXICON), 256}) {
    HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON,
                             size, size, 0);
    EXPECT_NE(icon, nullptr) << size;
    DestroyIcon(static_cast<HICON>(icon));
  }
}

}  // namespace
