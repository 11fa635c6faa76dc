#include "app/startup.h"

#include <objbase.h>

#include "core/app_state.h"
#include "app/hidden_window.h"
#include "app/settings.h"
#include "paste/hook_thread.h"
#include "paste/target_folder.h"

namespace {

constexpr wchar_t kMutexName[] = L"Local\\Dropleaf.SingleInstance";
constexpr wchar_t kCaption[] = L"Dropleaf";
constexpr wchar_t kHookFailedText[] = L"无法安装键盘监听，Dropleaf 无法运行。";

void CloseInstanceMutex() {
  if (AppState.instanceMutex) {
    CloseHandle(AppState.instanceMutex);
    AppState.instanceMutex = nullptr;
  }
}

bool CreateHiddenWindow(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = HiddenWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP_ICON));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = HIDDEN_WINDOW_CLASS;
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP_ICON),
                                                      IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                      GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  if (!RegisterClassExW(&windowClass)) return false;

  // Message-only: never shown, never enumerated, no broadcasts. WM_CREATE runs in here.
  AppState.hiddenWindow = CreateWindowExW(0, HIDDEN_WINDOW_CLASS, L"Dropleaf", 0, 0, 0, 0, 0,
                                          HWND_MESSAGE, nullptr, instance, nullptr);
  return AppState.hiddenWindow != nullptr;
}

void RunMessageLoop() {
  MSG msg = {};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // The message window gets its dialog keyboard navigation while it is open.
    if (AppState.messageWindow && IsDialogMessageW(AppState.messageWindow, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace

int RunDropleaf(HINSTANCE instance) {
  AppState.instanceMutex = CreateMutexW(nullptr, FALSE, kMutexName);
  if (!AppState.instanceMutex) return 1;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseInstanceMutex();  // another copy runs in this session
    return 0;
  }

  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    CloseInstanceMutex();
    return 1;
  }

  AppState.pastingEnabled.exchange(ReadPastingEnabled());
  RemoveOldDialogFiles();  // what earlier uploads left in Dropleaf's own folder

  if (!CreateHiddenWindow(instance)) {
    CoUninitialize();
    CloseInstanceMutex();
    return 1;
  }

  if (!StartKeyboardHookThread(AppState.hiddenWindow)) {
    MessageBoxW(nullptr, kHookFailedText, kCaption, MB_OK | MB_ICONERROR);
    DestroyWindow(AppState.hiddenWindow);  // full teardown, tray icon included
    AppState.hiddenWindow = nullptr;
    CoUninitialize();
    CloseInstanceMutex();
    return 1;
  }

  RunMessageLoop();

  // A loop that ended on an error rather than WM_QUIT leaves the window standing: tear it
  // down the regular way so the feed worker is joined and no tray icon is left behind.
  // The hook thread is stopped by then (the window's teardown does it first), so nothing
  // reads the handle while it is cleared.
  if (IsWindow(AppState.hiddenWindow)) DestroyWindow(AppState.hiddenWindow);
  AppState.hiddenWindow = nullptr;
  CoUninitialize();
  CloseInstanceMutex();
  return 0;
}
