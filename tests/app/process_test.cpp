#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/app_state.h"
#include "app/hidden_window.h"
#include "app/settings.h"
#include "tests/app/test_windows.h"

namespace {

// <build>/Dropleaf.exe, found from this test's own place at <build>/tests/app/app_tests.exe.
std::wstring DropleafPath() {
  std::wstring path = GetModulePath();
  for (int level = 0; level < 3; ++level) {
    size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    path.resize(slash);
  }
  return path + L"\\Dropleaf.exe";
}

HWND FindRunningHiddenWindow() {
  return FindWindowExW(HWND_MESSAGE, nullptr, HIDDEN_WINDOW_CLASS, nullptr);
}

// A started copy of Dropleaf.exe; killed at the end if a test left it running.
class DropleafProcess {
 public:
  DropleafProcess() {
    std::wstring path = DropleafPath();
    std::wstring commandLine = L"\"" + path + L"\" --ignored-argument";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
      CloseHandle(info.hThread);
      process_ = info.hProcess;
    }
  }
  ~DropleafProcess() {
    if (!process_) return;
    if (IsRunning()) TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
    CloseHandle(process_);
  }
  DropleafProcess(const DropleafProcess&) = delete;
  DropleafProcess& operator=(const DropleafProcess&) = delete;

  bool IsRunning() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

  // The exit code once the process has ended, or -1 if it is still running.
  long WaitForExit(DWORD milliseconds) const {
    WaitUntil([this] { return !IsRunning(); }, milliseconds);
    DWORD code = 0;
    if (!process_ || IsRunning() || !GetExitCodeProcess(process_, &code)) return -1;
    return static_cast<long>(code);
  }

 private:
  HANDLE process_ = nullptr;
};

// One running copy for every process-level check: Wine is slow to start a program.
TEST(Process, SingleInstanceMenuCommandsRunningHookAndExit) {
  ASSERT_NE(GetFileAttributesW(DropleafPath().c_str()), INVALID_FILE_ATTRIBUTES)
      << "Dropleaf.exe not built beside the tests";
  ASSERT_EQ(FindRunningHiddenWindow(), nullptr) << "a copy of Dropleaf is already running";
  ASSERT_EQ(AppState.keyboardHook, nullptr) << "this process must not hook the keyboard itself";
  SavedRegistryValue savedEnabled(SETTINGS_KEY, SETTINGS_ENABLED_VALUE);
  SavedRegistryValue savedRun(RUN_KEY, RUN_VALUE);
  RegDeleteTreeW(HKEY_CURRENT_USER, SETTINGS_KEY);  // pasting starts on by default
  RegDeleteKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE);
  ASSERT_TRUE(PutDibOnClipboard());

  DropleafProcess first;
  HWND hidden = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (hidden = FindRunningHiddenWindow()) != nullptr; }, 15000));
  EXPECT_EQ(DropleafProcess().WaitForExit(5000), 0) << "a second copy exits at once";
  PumpMessagesFor(300);
  EXPECT_TRUE(first.IsRunning());
  EXPECT_EQ(FindRunningHiddenWindow(), hidden);

  // Sent, not posted: the command has been carried out when the call returns.
  auto command = [&](UINT id) {
    return SendMessageTimeoutW(hidden, WM_COMMAND, id, 0, SMTO_NORMAL, 5000, nullptr) != 0;
  };
  // The run-at-sign-in command registers the program itself, quoted, and removes it again.
  ASSERT_TRUE(command(IDM_TOGGLE_AUTOSTART));
  EXPECT_EQ(ReadRunValue(), L"\"" + DropleafPath() + L"\"");
  ASSERT_TRUE(command(IDM_TOGGLE_AUTOSTART));
  EXPECT_EQ(ReadRunValue(), L"<absent>");

  // Ctrl+V over a folder window; the count of V key-downs that reached it.
  TestWindow folder(L"CabinetWClass");
  ASSERT_EQ(GetForegroundWindow(), folder.Get());
  auto press = [&] {
    SetForegroundWindow(folder.Get());
    SendCtrlV();
    PumpMessagesFor(500);
    return folder.vKeyDowns;
  };
  EXPECT_EQ(press(), 0) << "the running hook swallows the V key-down";
  EXPECT_GE(folder.controlKeyDowns, 1);

  // The clipboard listener keeps the image flag current: text lets Ctrl+V through.
  ASSERT_TRUE(PutTextOnClipboard(L"plain text"));
  PumpMessagesFor(300);
  EXPECT_EQ(press(), 1) << "text on the clipboard";
  ASSERT_TRUE(PutDibOnClipboard());
  PumpMessagesFor(300);
  EXPECT_EQ(press(), 1) << "an image again";

  // The menu's switch is stored and lets Ctrl+V through while off.
  ASSERT_TRUE(command(IDM_TOGGLE_ENABLED));
  EXPECT_EQ(ReadEnabledDword(), 0u);
  EXPECT_EQ(press(), 2) << "pasting off";
  ASSERT_TRUE(command(IDM_TOGGLE_ENABLED));
  EXPECT_EQ(ReadEnabledDword(), 1u);
  EXPECT_EQ(press(), 2) << "pasting on again";

  ASSERT_TRUE(PostMessageW(hidden, WM_COMMAND, IDM_EXIT, 0));
  ASSERT_EQ(first.WaitForExit(8000), 0);
  EXPECT_EQ(FindRunningHiddenWindow(), nullptr);
  EXPECT_EQ(press(), 3) << "after exit the keystroke reaches the window";
  EmptyTheClipboard();
}

}  // namespace
