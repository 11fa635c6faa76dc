#include <gtest/gtest.h>

#include <string>

#include "app/app_state.h"
#include "paste/keyboard_hook.h"
#include "tests/app/test_windows.h"

namespace {

// A press that meets every condition: plain Ctrl+V over a folder window, pasting on, an
// image on the clipboard.
KeyEventInputs QualifyingPress() {
  KeyEventInputs inputs;
  inputs.code = HC_ACTION;
  inputs.message = WM_KEYDOWN;
  inputs.vkCode = 'V';
  inputs.previousVKeyDown = false;
  inputs.controlHeld = true;
  inputs.pastingEnabled = true;
  inputs.clipboardHasImage = true;
  inputs.foregroundClass = L"CabinetWClass";
  return inputs;
}

TEST(HookDecision, QualifyingPressOverExplorerOrDesktopIsSwallowed) {
  for (const wchar_t* name : {L"CabinetWClass", L"ExploreWClass", L"Progman", L"WorkerW"}) {
    KeyEventInputs inputs = QualifyingPress();
    inputs.foregroundClass = name;
    EXPECT_EQ(DecideKeyEvent(inputs), HookAction::SwallowAndPost) << name;
    inputs.message = WM_SYSKEYDOWN;
    EXPECT_EQ(DecideKeyEvent(inputs), HookAction::SwallowAndPost) << name;
  }
}

TEST(HookDecision, ModifiersOtherThanControlAlonePassOn) {
  KeyEventInputs inputs = QualifyingPress();
  inputs.controlHeld = false;
  EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn) << "plain V";

  inputs = QualifyingPress();
  inputs.shiftHeld = true;
  EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn) << "Ctrl+Shift+V";

  inputs = QualifyingPress();
  inputs.altHeld = true;  // Ctrl+Alt+V, and AltGr+V, which holds both
  EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn) << "Ctrl+Alt+V / AltGr+V";
}

TEST(HookDecision, SwitchClipboardAndLatchGateThePress) {
  KeyEventInputs inputs = QualifyingPress();
  inputs.pastingEnabled = false;
  EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn) << "pasting off";

  inputs = QualifyingPress();
  inputs.clipboardHasImage = false;
  EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn) << "no image on the clipboard";

  inputs = QualifyingPress();
  inputs.previousVKeyDown = true;  // auto-repeat, or V held before Control
  EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn) << "V already down";
}

TEST(HookDecision, OtherWindowsKeysAndEventsPassOn) {
  for (const wchar_t* name : {L"Notepad", L"Edit", L"cabinetwclass", L"CABINETWCLASS", L"progman",
                              L"Workerw", L"CabinetWClass ", L"CabinetWClas", L""}) {
    KeyEventInputs inputs = QualifyingPress();
    inputs.foregroundClass = name;
    EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn) << name;
  }

  KeyEventInputs inputs = QualifyingPress();
  inputs.vkCode = 'C';
  EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn) << "Ctrl+C";
  inputs.vkCode = VK_INSERT;
  EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn) << "Ctrl+Insert";

  for (WPARAM message : {WPARAM{WM_KEYUP}, WPARAM{WM_SYSKEYUP}, WPARAM{WM_CHAR}}) {
    inputs = QualifyingPress();
    inputs.message = message;
    EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn) << "message " << message;
  }

  inputs = QualifyingPress();
  inputs.code = 3;  // HC_NOREMOVE: not an action code
  EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn);
  inputs.code = -1;
  EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn);
}

TEST(HookDecision, LatchFollowsVKeyDownsAndUps) {
  KBDLLHOOKSTRUCT v = {};
  v.vkCode = 'V';
  KBDLLHOOKSTRUCT other = {};
  other.vkCode = VK_CONTROL;
  EXPECT_EQ(VKeyLatchChangeFor(HC_ACTION, WM_KEYDOWN, &v), VKeyLatchChange::Set);
  EXPECT_EQ(VKeyLatchChangeFor(HC_ACTION, WM_SYSKEYDOWN, &v), VKeyLatchChange::Set);
  EXPECT_EQ(VKeyLatchChangeFor(HC_ACTION, WM_KEYUP, &v), VKeyLatchChange::Clear);
  EXPECT_EQ(VKeyLatchChangeFor(HC_ACTION, WM_SYSKEYUP, &v), VKeyLatchChange::Clear);
  EXPECT_EQ(VKeyLatchChangeFor(HC_ACTION, WM_KEYDOWN, &other), VKeyLatchChange::Keep);
  EXPECT_EQ(VKeyLatchChangeFor(HC_ACTION, WM_KEYUP, &other), VKeyLatchChange::Keep);
  EXPECT_EQ(VKeyLatchChangeFor(3, WM_KEYUP, &v), VKeyLatchChange::Keep);
  EXPECT_EQ(VKeyLatchChangeFor(HC_ACTION, WM_KEYDOWN, nullptr), VKeyLatchChange::Keep);
}

TEST(WindowClasses, PredicatesAreExactAndCaseSensitive) {
  EXPECT_TRUE(IsDesktopClassName(L"Progman"));
  EXPECT_TRUE(IsDesktopClassName(L"WorkerW"));
  EXPECT_FALSE(IsDesktopClassName(L"CabinetWClass"));
  EXPECT_FALSE(IsDesktopClassName(L"ExploreWClass"));
  EXPECT_FALSE(IsDesktopClassName(L"PROGMAN"));
  EXPECT_FALSE(IsDesktopClassName(L""));
  EXPECT_TRUE(IsExplorerOrDesktopClassName(L"ExploreWClass"));
  EXPECT_FALSE(IsExplorerOrDesktopClassName(L"ExploreWClass2"));
}

TEST(WindowClasses, RealWindowsNullAndVanishedHandles) {
  EXPECT_EQ(GetWindowClassName(nullptr), L"");
  EXPECT_FALSE(IsExplorerOrDesktopWindow(nullptr));
  EXPECT_FALSE(IsDesktopWindow(nullptr));

  HWND vanished = nullptr;
  {
    ForegroundTestWindow folder(L"CabinetWClass", false);
    ASSERT_NE(folder.Get(), nullptr);
    EXPECT_EQ(GetWindowClassName(folder.Get()), L"CabinetWClass");
    EXPECT_TRUE(IsExplorerOrDesktopWindow(folder.Get()));
    EXPECT_FALSE(IsDesktopWindow(folder.Get()));
    vanished = folder.Get();
  }
  EXPECT_EQ(GetWindowClassName(vanished), L"");
  EXPECT_FALSE(IsExplorerOrDesktopWindow(vanished));

  {
    ForegroundTestWindow desktop(L"WorkerW", false);
    EXPECT_TRUE(IsDesktopWindow(desktop.Get()));
    EXPECT_TRUE(IsExplorerOrDesktopWindow(desktop.Get()));
  }
  {
    ForegroundTestWindow wrongCase(L"progman", false);
    ASSERT_NE(wrongCase.Get(), nullptr);
    EXPECT_FALSE(IsDesktopWindow(wrongCase.Get()));
    EXPECT_FALSE(IsExplorerOrDesktopWindow(wrongCase.Get()));
  }
  {
    // The longest class name the system accepts comes back cut to 255 units.
    std::wstring longName(256, L'x');
    ForegroundTestWindow longClass(longName.c_str(), false);
    if (longClass.Get()) {
      EXPECT_EQ(GetWindowClassName(longClass.Get()), longName.substr(0, 255));
    }
  }
}

// Tests that touch AppState put it back as they found it.
class KeyboardHookTest : public testing::Test {
 protected:
  void TearDown() override {
    if (AppState.keyboardHook) UnhookWindowsHookEx(AppState.keyboardHook);
    AppState.keyboardHook = nullptr;
    AppState.hiddenWindow = nullptr;
    AppState.pastingEnabled.exchange(false);
    AppState.clipboardHasImage.exchange(false);
    AppState.vKeyDown.exchange(false);
  }

  void PrepareState(HWND sink, bool pastingEnabled) {
    AppState.hiddenWindow = sink;
    AppState.pastingEnabled.exchange(pastingEnabled);
    AppState.clipboardHasImage.exchange(true);
    AppState.vKeyDown.exchange(false);
  }

  static LRESULT CallHook(WPARAM message, DWORD vk) {
    KBDLLHOOKSTRUCT event = {};
    event.vkCode = vk;
    return KeyboardHookProc(HC_ACTION, message, reinterpret_cast<LPARAM>(&event));
  }
};

TEST_F(KeyboardHookTest, NullEventAndOtherCodesPassOnUntouched) {
  PasteRequestSink sink;
  PrepareState(sink.Get(), true);
  EXPECT_NE(KeyboardHookProc(HC_ACTION, WM_KEYDOWN, 0), 1);
  EXPECT_NE(KeyboardHookProc(HC_ACTION, WM_KEYUP, 0), 1);
  KBDLLHOOKSTRUCT v = {};
  v.vkCode = 'V';
  EXPECT_NE(KeyboardHookProc(3, WM_KEYDOWN, reinterpret_cast<LPARAM>(&v)), 1);
  EXPECT_FALSE(AppState.vKeyDown.load()) << "a non-action event must not move the latch";
  PumpMessagesFor(50);
  EXPECT_EQ(sink.requests, 0);
}

// The hook procedure called directly, with the real key state, foreground window and post.
TEST_F(KeyboardHookTest, LatchLetsOnlyTheFirstKeyDownOfAPressTrigger) {
  PasteRequestSink sink;
  ForegroundTestWindow folder(L"CabinetWClass");
  ASSERT_EQ(GetForegroundWindow(), folder.Get());
  PrepareState(sink.Get(), true);

  SendKey(VK_CONTROL, false);
  ASSERT_TRUE(GetAsyncKeyState(VK_CONTROL) & 0x8000);
  EXPECT_EQ(CallHook(WM_KEYDOWN, 'V'), 1);
  EXPECT_TRUE(AppState.vKeyDown.load());
  EXPECT_NE(CallHook(WM_KEYDOWN, 'V'), 1) << "auto-repeat must pass on";
  EXPECT_NE(CallHook(WM_KEYDOWN, 'V'), 1);
  EXPECT_NE(CallHook(WM_KEYDOWN, 'C'), 1);
  EXPECT_TRUE(AppState.vKeyDown.load()) << "other keys leave the latch alone";
  EXPECT_NE(CallHook(WM_KEYUP, 'V'), 1) << "the key-up always passes on";
  EXPECT_FALSE(AppState.vKeyDown.load());
  EXPECT_EQ(CallHook(WM_KEYDOWN, 'V'), 1) << "a new press triggers again";
  EXPECT_NE(CallHook(WM_KEYUP, 'V'), 1);

  SendKey(VK_SHIFT, false);
  EXPECT_NE(CallHook(WM_KEYDOWN, 'V'), 1) << "Ctrl+Shift+V";
  EXPECT_NE(CallHook(WM_KEYUP, 'V'), 1);
  SendKey(VK_SHIFT, true);
  SendKey(VK_RMENU, false);  // AltGr holds Control and Alt
  EXPECT_NE(CallHook(WM_KEYDOWN, 'V'), 1) << "Ctrl+Alt+V";
  EXPECT_NE(CallHook(WM_KEYUP, 'V'), 1);
  SendKey(VK_RMENU, true);
  SendKey(VK_CONTROL, true);
  EXPECT_NE(CallHook(WM_KEYDOWN, 'V'), 1) << "plain V";
  EXPECT_NE(CallHook(WM_KEYUP, 'V'), 1);

  PumpMessagesFor(50);
  EXPECT_EQ(sink.requests, 2);
  EXPECT_EQ(sink.lastTarget, folder.Get());
}

// The real global hook with injected input: the folder window never sees the V key-down,
// the hidden window gets exactly one request for it.
TEST_F(KeyboardHookTest, InstalledHookSwallowsCtrlVOverAFolderWindow) {
  PasteRequestSink sink;
  ASSERT_NE(sink.Get(), nullptr);
  PrepareState(sink.Get(), true);
  AppState.keyboardHook =
      SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHookProc, GetModuleHandleW(nullptr), 0);
  ASSERT_NE(AppState.keyboardHook, nullptr);

  ForegroundTestWindow folder(L"CabinetWClass");
  ASSERT_EQ(GetForegroundWindow(), folder.Get());
  SendCtrlV();
  PumpMessagesFor(300);
  EXPECT_GE(folder.log.controlKeyDowns, 1) << "the Control key itself reaches the window";
  EXPECT_EQ(folder.log.vKeyDowns, 0);
  EXPECT_EQ(sink.requests, 1);
  EXPECT_EQ(sink.lastTarget, folder.Get());
  EXPECT_FALSE(AppState.vKeyDown.load()) << "the key-up of V reset the latch";
}

TEST_F(KeyboardHookTest, InstalledHookLeavesOtherWindowsAndStatesAlone) {
  PasteRequestSink sink;
  PrepareState(sink.Get(), true);
  AppState.keyboardHook =
      SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHookProc, GetModuleHandleW(nullptr), 0);
  ASSERT_NE(AppState.keyboardHook, nullptr);

  for (const wchar_t* editor : {L"Notepad", L"WordPadClass"}) {
    ForegroundTestWindow window(editor);
    ASSERT_EQ(GetForegroundWindow(), window.Get());
    SendCtrlV();
    PumpMessagesFor(200);
    EXPECT_EQ(window.log.vKeyDowns, 1) << "Ctrl+V must reach the editor";
  }

  ForegroundTestWindow folder(L"CabinetWClass");
  AppState.pastingEnabled.exchange(false);
  SendCtrlV();
  PumpMessagesFor(200);
  EXPECT_EQ(folder.log.vKeyDowns, 1) << "pasting off";

  AppState.pastingEnabled.exchange(true);
  AppState.clipboardHasImage.exchange(false);
  SendCtrlV();
  PumpMessagesFor(200);
  EXPECT_EQ(folder.log.vKeyDowns, 2) << "text on the clipboard: Explorer's own paste";

  EXPECT_EQ(sink.requests, 0);
}

}  // namespace
