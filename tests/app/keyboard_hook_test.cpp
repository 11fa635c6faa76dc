#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/hidden_window.h"
#include "paste/keyboard_hook.h"
#include "tests/app/test_windows.h"

namespace {

// Plain Ctrl+V over a folder window, pasting on, an image on the clipboard.
KeyEventInputs QualifyingPress(const wchar_t* foregroundClass = L"CabinetWClass") {
  KeyEventInputs inputs;
  inputs.vkCode = 'V';
  inputs.controlHeld = true;
  inputs.pastingEnabled = true;
  inputs.clipboardHasImage = true;
  inputs.foregroundClass = foregroundClass;
  return inputs;
}

// Window classes are compared exactly and with their letter case.
struct WindowClass {
  const wchar_t* name;
  bool folderOrDesktop;
  bool desktop;
};
const WindowClass kFolder{L"CabinetWClass", true, false}, kDesktop{L"WorkerW", true, true},
    kWrongCase{L"progman", false, false};
const wchar_t* const kOtherClasses[] = {
    L"cabinetwclass", L"CABINETWCLASS",  L"progman", L"PROGMAN", L"Workerw", L"CabinetWClass ",
    L"CabinetWClas",  L"ExploreWClass2", L"Notepad", L"Edit",    L""};

TEST(HookDecision, OnlyAFreshCtrlVWithPastingOnAndAnImageOverAFolderOrTheDesktopIsSwallowed) {
  std::vector<WindowClass> classes = {
      kFolder, {L"ExploreWClass", true, false}, kDesktop, {L"Progman", true, true}};
  for (const wchar_t* name : kOtherClasses) classes.push_back({name, false, false});
  for (const WindowClass& windowClass : classes) {
    EXPECT_EQ(IsExplorerOrDesktopClassName(windowClass.name), windowClass.folderOrDesktop)
        << windowClass.name;
    EXPECT_EQ(IsDesktopClassName(windowClass.name), windowClass.desktop) << windowClass.name;
    HookAction expected =
        windowClass.folderOrDesktop ? HookAction::SwallowAndPost : HookAction::PassOn;
    KeyEventInputs inputs = QualifyingPress(windowClass.name);
    EXPECT_EQ(DecideKeyEvent(inputs), expected) << windowClass.name;
    inputs.message = WM_SYSKEYDOWN;
    EXPECT_EQ(DecideKeyEvent(inputs), expected) << windowClass.name << " WM_SYSKEYDOWN";
  }

  const struct {
    const char* what;
    void (*change)(KeyEventInputs&);
  } passOn[] = {
      {"plain V", [](KeyEventInputs& i) { i.controlHeld = false; }},
      {"Ctrl+Shift+V", [](KeyEventInputs& i) { i.shiftHeld = true; }},
      {"Ctrl+Alt+V, and AltGr+V, which holds both", [](KeyEventInputs& i) { i.altHeld = true; }},
      {"pasting off", [](KeyEventInputs& i) { i.pastingEnabled = false; }},
      {"no image on the clipboard", [](KeyEventInputs& i) { i.clipboardHasImage = false; }},
      {"auto-repeat, or V held before Control",
       [](KeyEventInputs& i) { i.previousVKeyDown = true; }},
      {"Ctrl+C", [](KeyEventInputs& i) { i.vkCode = 'C'; }},
      {"Ctrl+Insert", [](KeyEventInputs& i) { i.vkCode = VK_INSERT; }},
      {"WM_KEYUP", [](KeyEventInputs& i) { i.message = WM_KEYUP; }},
      {"WM_SYSKEYUP", [](KeyEventInputs& i) { i.message = WM_SYSKEYUP; }},
      {"WM_CHAR", [](KeyEventInputs& i) { i.message = WM_CHAR; }},
      {"HC_NOREMOVE", [](KeyEventInputs& i) { i.code = 3; }},
      {"negative code", [](KeyEventInputs& i) { i.code = -1; }},
  };
  for (const auto& row : passOn) {
    KeyEventInputs inputs = QualifyingPress();
    row.change(inputs);
    EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn) << row.what;
  }
}

TEST(WindowClasses, RealWindowsNullAndVanishedHandles) {
  EXPECT_EQ(GetWindowClassName(nullptr), L"");
  EXPECT_FALSE(IsExplorerOrDesktopWindow(nullptr));
  EXPECT_FALSE(IsDesktopWindow(nullptr));
  HWND vanished = nullptr;
  for (const auto& windowClass : {kFolder, kDesktop, kWrongCase}) {
    TestWindow window(windowClass.name, false);
    ASSERT_NE(window.Get(), nullptr);
    EXPECT_EQ(GetWindowClassName(window.Get()), windowClass.name);
    EXPECT_EQ(IsExplorerOrDesktopWindow(window.Get()), windowClass.folderOrDesktop);
    EXPECT_EQ(IsDesktopWindow(window.Get()), windowClass.desktop);
    vanished = window.Get();
  }
  EXPECT_EQ(GetWindowClassName(vanished), L"");

  // The longest class name the system accepts comes back whole.
  std::wstring longName(255, L'x');
  TestWindow longClass(longName.c_str(), false);
  ASSERT_NE(longClass.Get(), nullptr);
  EXPECT_EQ(GetWindowClassName(longClass.Get()), longName);
}

TEST(ClipboardFlag, TextClearsTheFlagAndAnImageSetsIt) {
  AppState.clipboardHasImage.exchange(true);
  ASSERT_TRUE(PutTextOnClipboard(L"just some text"));
  UpdateClipboardImageFlag();
  EXPECT_FALSE(AppState.clipboardHasImage.load());
  ASSERT_TRUE(PutDibOnClipboard());
  UpdateClipboardImageFlag();
  EXPECT_TRUE(AppState.clipboardHasImage.load()) << "CF_DIB only";
  EmptyTheClipboard();
  UpdateClipboardImageFlag();
  EXPECT_FALSE(AppState.clipboardHasImage.load()) << "empty clipboard";
}

// The hook procedure with the real key state, foreground window and post; tests put AppState
// back as they found it.
class KeyboardHookTest : public testing::Test {
 protected:
  void SetUp() override {
    AppState.hiddenWindow = sink.Get();
    AppState.pastingEnabled.exchange(true);
    AppState.clipboardHasImage.exchange(true);
    AppState.vKeyDown.exchange(false);
  }
  void TearDown() override {
    if (AppState.keyboardHook) UnhookWindowsHookEx(AppState.keyboardHook);
    AppState.keyboardHook = nullptr;
    AppState.hiddenWindow = nullptr;
    AppState.pastingEnabled.exchange(false);
    AppState.clipboardHasImage.exchange(false);
    AppState.vKeyDown.exchange(false);
  }
  static LRESULT CallHook(WPARAM message, DWORD vk, int code = HC_ACTION) {
    KBDLLHOOKSTRUCT event = {};
    event.vkCode = vk;
    return KeyboardHookProc(code, message, reinterpret_cast<LPARAM>(&event));
  }
  TestWindow sink{L"Dropleaf.Test.PasteSink", false, HWND_MESSAGE};
};

TEST_F(KeyboardHookTest, NullEventAndOtherCodesPassOnUntouched) {
  EXPECT_NE(KeyboardHookProc(HC_ACTION, WM_KEYDOWN, 0), 1);
  EXPECT_NE(KeyboardHookProc(HC_ACTION, WM_KEYUP, 0), 1);
  EXPECT_NE(CallHook(WM_KEYDOWN, 'V', 3), 1);
  EXPECT_FALSE(AppState.vKeyDown.load()) << "a non-action event must not move the latch";
  PumpMessagesFor(50);
  EXPECT_EQ(sink.pasteRequests, 0);
}

TEST_F(KeyboardHookTest, LatchLetsOnlyTheFirstKeyDownOfAPressTrigger) {
  TestWindow folder(L"CabinetWClass");
  ASSERT_EQ(GetForegroundWindow(), folder.Get());
  SendKey(VK_CONTROL, false);
  ASSERT_TRUE(GetAsyncKeyState(VK_CONTROL) & 0x8000);
  EXPECT_EQ(CallHook(WM_KEYDOWN, 'V'), 1);
  EXPECT_TRUE(AppState.vKeyDown.load());
  EXPECT_NE(CallHook(WM_KEYDOWN, 'V'), 1) << "auto-repeat must pass on";
  EXPECT_NE(CallHook(WM_KEYDOWN, 'C'), 1);
  EXPECT_NE(CallHook(WM_KEYUP, 'C'), 1);
  EXPECT_NE(CallHook(WM_KEYUP, 'V', 3), 1);
  EXPECT_TRUE(AppState.vKeyDown.load()) << "other keys and non-action codes leave the latch alone";
  EXPECT_NE(CallHook(WM_SYSKEYUP, 'V'), 1) << "the key-up always passes on";
  EXPECT_FALSE(AppState.vKeyDown.load());
  EXPECT_EQ(CallHook(WM_SYSKEYDOWN, 'V'), 1) << "a new press triggers again";
  EXPECT_TRUE(AppState.vKeyDown.load());
  EXPECT_NE(CallHook(WM_KEYUP, 'V'), 1);
  EXPECT_FALSE(AppState.vKeyDown.load());

  // The held modifiers are read from the real key state.
  for (WORD modifier : {WORD{VK_SHIFT}, WORD{VK_RMENU}}) {  // AltGr holds Control and Alt
    SendKey(modifier, false);
    EXPECT_NE(CallHook(WM_KEYDOWN, 'V'), 1) << "modifier " << modifier;
    EXPECT_NE(CallHook(WM_KEYUP, 'V'), 1);
    SendKey(modifier, true);
  }
  SendKey(VK_CONTROL, true);
  EXPECT_NE(CallHook(WM_KEYDOWN, 'V'), 1) << "plain V";
  EXPECT_NE(CallHook(WM_KEYUP, 'V'), 1);

  PumpMessagesFor(50);
  EXPECT_EQ(sink.pasteRequests, 2);
  EXPECT_EQ(sink.lastTarget, folder.Get());
}

// The real global hook with injected input: an editor in front gets Ctrl+V and nothing is
// posted; a folder window never sees the V key-down and the hidden window gets one request.
TEST_F(KeyboardHookTest, InstalledHookSwallowsCtrlVOnlyOverAFolderWindow) {
  AppState.keyboardHook =
      SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHookProc, GetModuleHandleW(nullptr), 0);
  ASSERT_NE(AppState.keyboardHook, nullptr);
  {
    TestWindow editor(L"Notepad");
    ASSERT_EQ(GetForegroundWindow(), editor.Get());
    SendCtrlV();
    PumpMessagesFor(200);
    EXPECT_EQ(editor.vKeyDowns, 1) << "Ctrl+V must reach the editor";
    EXPECT_EQ(sink.pasteRequests, 0);
  }
  TestWindow folder(L"CabinetWClass");
  ASSERT_EQ(GetForegroundWindow(), folder.Get());
  SendCtrlV();
  PumpMessagesFor(300);
  EXPECT_GE(folder.controlKeyDowns, 1) << "the Control key itself reaches the window";
  EXPECT_EQ(folder.vKeyDowns, 0);
  EXPECT_EQ(sink.pasteRequests, 1);
  EXPECT_EQ(sink.lastTarget, folder.Get());
  EXPECT_FALSE(AppState.vKeyDown.load()) << "the key-up of V reset the latch";
}

}  // namespace
