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
    if (process_) {
      if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
      }
      CloseHandle(process_);
    }
  }
  DropleafProcess(const DropleafProcess&) = delete;
  DropleafProcess& operator=(const DropleafProcess&) = delete;

  HANDLE Get() const { return process_; }

  bool IsRunning() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

  // Waits until the process has ended; its exit code, or -1 if it is still running.
  long WaitForExit(DWORD milliseconds) const {
    ULONGLONG deadline = GetTickCount64() + milliseconds;
    while (IsRunning() && GetTickCount64() < deadline) PumpMessagesFor(50);
    DWORD code = 0;
    if (IsRunning() || !GetExitCodeProcess(process_, &code)) return -1;
    return static_cast<long>(code);
  }

  // The hidden window of this copy, once it has one.
  HWND WaitForHiddenWindow(DWORD milliseconds) const {
    ULONGLONG deadline = GetTickCount64() + milliseconds;
    while (IsRunning() && GetTickCount64() < deadline) {
      HWND window = FindRunningHiddenWindow();
      DWORD owner = 0;
      if (window && GetWindowThreadProcessId(window, &owner) && owner == GetProcessId(process_)) {
        return window;
      }
      PumpMessagesFor(50);
    }
    return nullptr;
  }

 private:
  HANDLE process_ = nullptr;
};

bool WaitForEnabledValue(DWORD expected, DWORD milliseconds) {
  ULONGLONG deadline = GetTickCount64() + milliseconds;
  do {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, SETTINGS_KEY, SETTINGS_ENABLED_VALUE, RRF_RT_REG_DWORD,
                     nullptr, &value, &size) == ERROR_SUCCESS &&
        value == expected) {
      return true;
    }
    PumpMessagesFor(50);
  } while (GetTickCount64() < deadline);
  return false;
}

// The Run value once it is present (or absent, for `present` false); empty when absent.
std::wstring WaitForRunValue(bool present, DWORD milliseconds) {
  ULONGLONG deadline = GetTickCount64() + milliseconds;
  std::wstring value;
  do {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer);
    bool found = RegGetValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE, RRF_RT_REG_SZ, nullptr, buffer,
                              &size) == ERROR_SUCCESS;
    value = found ? buffer : L"";
    if (found == present) break;
    PumpMessagesFor(50);
  } while (GetTickCount64() < deadline);
  return value;
}

class ProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(GetFileAttributesW(DropleafPath().c_str()), INVALID_FILE_ATTRIBUTES)
        << "Dropleaf.exe not built beside the tests";
    ASSERT_EQ(FindRunningHiddenWindow(), nullptr) << "a copy of Dropleaf is already running";
  }
  void TearDown() override {
    if (OpenClipboard(nullptr)) {
      EmptyClipboard();
      CloseClipboard();
    }
  }
  SavedRegistryValue savedEnabled{SETTINGS_KEY, SETTINGS_ENABLED_VALUE};
};

TEST_F(ProcessTest, SecondCopyExitsAtOnceAndTheExitCommandEndsTheFirst) {
  DropleafProcess first;
  ASSERT_NE(first.Get(), nullptr);
  HWND hidden = first.WaitForHiddenWindow(15000);
  ASSERT_NE(hidden, nullptr);

  {
    DropleafProcess second;
    ASSERT_NE(second.Get(), nullptr);
    EXPECT_EQ(second.WaitForExit(5000), 0);
  }
  PumpMessagesFor(300);
  EXPECT_TRUE(first.IsRunning());
  EXPECT_EQ(FindRunningHiddenWindow(), hidden);

  // The run-at-sign-in command registers the program itself, quoted, and removes it again.
  SavedRegistryValue savedRun(RUN_KEY, RUN_VALUE);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE);
  ASSERT_TRUE(PostMessageW(hidden, WM_COMMAND, IDM_TOGGLE_AUTOSTART, 0));
  EXPECT_EQ(WaitForRunValue(true, 3000), L"\"" + DropleafPath() + L"\"");
  ASSERT_TRUE(PostMessageW(hidden, WM_COMMAND, IDM_TOGGLE_AUTOSTART, 0));
  EXPECT_EQ(WaitForRunValue(false, 3000), L"");

  ASSERT_TRUE(PostMessageW(hidden, WM_COMMAND, IDM_EXIT, 0));
  EXPECT_EQ(first.WaitForExit(8000), 0);
  EXPECT_EQ(FindRunningHiddenWindow(), nullptr);
}

// The running program's hook swallows Ctrl+V over a folder window while pasting is on,
// follows the tray menu's switch, and is gone once the program has ended.
TEST_F(ProcessTest, HookWorksWhileRunningFollowsTheSwitchAndLeavesWithTheProgram) {
  DWORD on = 1;
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, SETTINGS_KEY, SETTINGS_ENABLED_VALUE, REG_DWORD, &on,
                            sizeof(on)),
            ERROR_SUCCESS);
  ASSERT_TRUE(PutDibOnClipboard(CF_DIB));
  ASSERT_EQ(AppState.keyboardHook, nullptr) << "this process must not hook the keyboard itself";

  DropleafProcess dropleaf;
  HWND hidden = dropleaf.WaitForHiddenWindow(15000);
  ASSERT_NE(hidden, nullptr);

  ForegroundTestWindow folder(L"CabinetWClass");
  ASSERT_EQ(GetForegroundWindow(), folder.Get());
  SendCtrlV();
  PumpMessagesFor(500);
  EXPECT_GE(folder.log.controlKeyDowns, 1);
  EXPECT_EQ(folder.log.vKeyDowns, 0) << "the running hook swallows the V key-down";

  // The clipboard listener keeps the image flag current: text lets Ctrl+V through.
  ASSERT_TRUE(PutTextOnClipboard(L"plain text"));
  PumpMessagesFor(300);
  SendCtrlV();
  PumpMessagesFor(500);
  EXPECT_EQ(folder.log.vKeyDowns, 1) << "text on the clipboard";
  ASSERT_TRUE(PutDibOnClipboard(CF_DIB));
  PumpMessagesFor(300);
  SetForegroundWindow(folder.Get());
  SendCtrlV();
  PumpMessagesFor(500);
  EXPECT_EQ(folder.log.vKeyDowns, 1) << "an image again";

  // Turning pasting off from the menu persists the switch and lets Ctrl+V through.
  ASSERT_TRUE(PostMessageW(hidden, WM_COMMAND, IDM_TOGGLE_ENABLED, 0));
  EXPECT_TRUE(WaitForEnabledValue(0, 3000));
  SetForegroundWindow(folder.Get());
  SendCtrlV();
  PumpMessagesFor(500);
  EXPECT_EQ(folder.log.vKeyDowns, 2) << "pasting off";

  ASSERT_TRUE(PostMessageW(hidden, WM_COMMAND, IDM_TOGGLE_ENABLED, 0));
  EXPECT_TRUE(WaitForEnabledValue(1, 3000));
  SetForegroundWindow(folder.Get());
  SendCtrlV();
  PumpMessagesFor(500);
  EXPECT_EQ(folder.log.vKeyDowns, 2) << "pasting on again";

  ASSERT_TRUE(PostMessageW(hidden, WM_COMMAND, IDM_EXIT, 0));
  ASSERT_EQ(dropleaf.WaitForExit(8000), 0);

  SetForegroundWindow(folder.Get());
  SendCtrlV();
  PumpMessagesFor(500);
  EXPECT_EQ(folder.log.vKeyDowns, 3) << "after exit the keystroke reaches the window";
}

}  // namespace
