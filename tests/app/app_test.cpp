#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "paste/hook_thread.h"
#include "paste/keyboard_hook.h"
#include "tests/support/test_support.h"

namespace {

TEST(HookDecision, OnlyAFreshPlainCtrlVWithAnImageOverExplorerOrTheDesktopIsTaken) {
  const std::vector<void (*)(KeyEventInputs&)> passOn = {
      [](KeyEventInputs& i) { i.foregroundClass = L"cabinetwclass"; },  // exact names only
      [](KeyEventInputs& i) { i.foregroundClass = L"Notepad"; },
      [](KeyEventInputs& i) { i.controlHeld = false; },
      [](KeyEventInputs& i) { i.shiftHeld = true; },
      [](KeyEventInputs& i) { i.altHeld = true; },  // Ctrl+Alt+V and AltGr+V
      [](KeyEventInputs& i) { i.pastingEnabled = false; },
      [](KeyEventInputs& i) { i.clipboardHasImage = false; },
      [](KeyEventInputs& i) { i.previousVKeyDown = true; },  // auto-repeat, V before Control
      [](KeyEventInputs& i) { i.message = WM_KEYUP; },
  };
  KeyEventInputs press;
  press.vkCode = 'V';
  press.controlHeld = press.pastingEnabled = press.clipboardHasImage = true;
  // "#32769" is the desktop window itself, what a click on the desktop brings forward under Wine.
  for (const wchar_t* name :
       {L"CabinetWClass", L"ExploreWClass", L"Progman", L"WorkerW", L"#32769"}) {
    press.foregroundClass = name;
    EXPECT_EQ(DecideKeyEvent(press), HookAction::SwallowAndPost) << name;
  }
  for (size_t row = 0; row < passOn.size(); ++row) {
    KeyEventInputs inputs = press;
    passOn[row](inputs);
    EXPECT_EQ(DecideKeyEvent(inputs), HookAction::PassOn) << "row " << row;
  }
}

// A folder window on a thread of its own, as another program's window would be: it notes
// when each key-down of A arrives.
struct TypingTarget {
  std::atomic<HWND> window{nullptr};
  std::atomic<int> vKeyDowns{0};
  std::vector<long long> arrivals;  // read after the thread has ended
  std::atomic<bool> stop{false};
  std::thread thread{[this] {
    TestWindow folder(L"CabinetWClass");
    folder.onMessage = [this](UINT message, WPARAM key) {
      if (message == WM_KEYDOWN && key == 'A') arrivals.push_back(NowMs());
    };
    window = folder.Get();
    WaitUntil([this] { return stop.load(); }, 60000);
    vKeyDowns = folder.vKeyDowns;
  }};
};

// The hook runs on its own thread: typing elsewhere never waits for a busy user-interface
// thread (a long paste), and no key event is lost to the system's hook time-out.
TEST(KeyboardHookThread, TypingIsNotDelayedWhileTheUserInterfaceThreadIsBusy) {
  TestWindow hidden(L"Dropleaf.Test.Hidden", HWND_MESSAGE);
  AppState.hiddenWindow = hidden.Get();
  AppState.pastingEnabled.exchange(true);
  AppState.clipboardHasImage.exchange(true);
  ASSERT_TRUE(StartKeyboardHookThread());
  TypingTarget target;
  ASSERT_TRUE(WaitUntil([&] { return target.window.load() != nullptr; }, 5000));
  SetForegroundWindow(target.window);
  PumpMessagesFor(200);

  // Keys typed while this thread sleeps 3 s in a posted job.
  constexpr UINT kBusyJob = WM_APP + 100;
  hidden.onMessage = [](UINT message, WPARAM) {
    if (message == kBusyJob) Sleep(3000);
  };
  std::vector<long long> sent;
  std::thread typist([&] {
    Sleep(300);
    for (int i = 0; i < 5; ++i, Sleep(400)) {
      sent.push_back(NowMs());
      INPUT keys[2] = {};
      keys[0].type = keys[1].type = INPUT_KEYBOARD;
      keys[0].ki.wVk = keys[1].ki.wVk = 'A';
      keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
      SendInput(2, keys, sizeof(INPUT));
    }
  });
  PostMessageW(hidden.Get(), kBusyJob, 0, 0);
  PumpMessagesFor(100);  // runs the job
  typist.join();
  // Right after the busy spell, Ctrl+V over the folder window is still taken.
  SendCtrlV();
  EXPECT_TRUE(WaitUntil([&] { return hidden.pasteRequests == 1; }, 2000));
  EXPECT_EQ(hidden.lastTarget, target.window.load());

  target.stop = true;
  target.thread.join();
  StopKeyboardHookThread();
  AppState.hiddenWindow = nullptr;
  EXPECT_EQ(target.vKeyDowns, 0) << "the V key-down was swallowed";
  ASSERT_EQ(target.arrivals.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i)
    EXPECT_LT(target.arrivals[i] - sent[i], 200) << "key " << i;
}

// The icon group: every size, the 256-pixel image PNG-compressed, and the file decodes.
TEST(IconGroup, EverySizeIsThereTheLargestAsPngAndTheFileDecodes) {
#pragma pack(push, 2)
  struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
  };
#pragma pack(pop)
  HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(IDI_APP_ICON), RT_GROUP_ICON);
  ASSERT_NE(group, nullptr);
  const auto* header = static_cast<const WORD*>(LockResource(LoadResource(nullptr, group)));
  const auto* entries = reinterpret_cast<const GroupEntry*>(header + 3);
  const int sizes[] = {16, 20, 24, 32, 40, 48, 64, 128, 256};
  ASSERT_EQ(header[2], 9);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(entries[i].width ? entries[i].width : 256, sizes[i]);
    HRSRC image = FindResourceW(nullptr, MAKEINTRESOURCEW(entries[i].id), RT_ICON);
    ASSERT_NE(image, nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, image)));
    EXPECT_EQ(std::string(bytes, 4) == "\x89PNG", sizes[i] == 256) << sizes[i];
    Image decoded = DecodeImageFile(BuildFolder() + L"resources\\dropleaf.ico", i);
    EXPECT_EQ(decoded.width, sizes[i]);
  }
  HICON small = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON, 16, 16, 0));
  EXPECT_NE(small, nullptr);
  DestroyIcon(small);
}

// Run by run_script_test.sh in the run script's prefix and desktop.
TEST(RunScript, DISABLED_DropleafsHiddenWindowIsThere) {
  EXPECT_TRUE(WaitUntil([] { return FindWindowExW(HWND_MESSAGE, nullptr, L"Dropleaf.HiddenWindow", nullptr); }, 30000));
}

}  // namespace
