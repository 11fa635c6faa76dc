#include "paste/keyboard_hook.h"

#include "app/app_state.h"

namespace {

constexpr DWORD VK_V_KEY = 0x56;

bool IsKeyDownMessage(WPARAM message) { return message == WM_KEYDOWN || message == WM_SYSKEYDOWN; }

bool IsKeyUpMessage(WPARAM message) { return message == WM_KEYUP || message == WM_SYSKEYUP; }

bool IsHeld(int virtualKey) { return (GetAsyncKeyState(virtualKey) & 0x8000) != 0; }

}  // namespace

bool IsExplorerOrDesktopClassName(std::wstring_view className) {
  return className == L"CabinetWClass" || className == L"ExploreWClass" ||
         IsDesktopClassName(className);
}

// "#32769" is the desktop window itself (GetDesktopWindow): what a click on the desktop
// brings to the front where no shell draws one, as under Wine.
bool IsDesktopClassName(std::wstring_view className) {
  return className == L"Progman" || className == L"WorkerW" || className == L"#32769";
}

std::wstring GetWindowClassName(HWND window) {
  if (!window) return {};
  wchar_t buffer[256] = {};
  int length = GetClassNameW(window, buffer, 256);
  if (length <= 0) return {};
  return std::wstring(buffer, static_cast<size_t>(length));
}

bool IsExplorerOrDesktopWindow(HWND window) {
  return IsExplorerOrDesktopClassName(GetWindowClassName(window));
}

bool IsDesktopWindow(HWND window) { return IsDesktopClassName(GetWindowClassName(window)); }

VKeyLatchChange VKeyLatchChangeFor(int code, WPARAM message, const KBDLLHOOKSTRUCT* event) {
  if (code != HC_ACTION || !event || event->vkCode != VK_V_KEY) return VKeyLatchChange::Keep;
  if (IsKeyDownMessage(message)) return VKeyLatchChange::Set;
  if (IsKeyUpMessage(message)) return VKeyLatchChange::Clear;
  return VKeyLatchChange::Keep;
}

bool IsPasteChord(const KeyEventInputs& inputs) {
  return inputs.code == HC_ACTION && inputs.vkCode == VK_V_KEY &&
         IsKeyDownMessage(inputs.message) && !inputs.previousVKeyDown && inputs.controlHeld &&
         !inputs.shiftHeld && !inputs.altHeld && inputs.pastingEnabled && inputs.clipboardHasImage;
}

HookAction DecideKeyEvent(const KeyEventInputs& inputs) {
  if (IsPasteChord(inputs) && IsExplorerOrDesktopClassName(inputs.foregroundClass)) {
    return HookAction::SwallowAndPost;
  }
  return HookAction::PassOn;
}

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam) {
  const auto* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
  // Every key but V leaves here at once: the hook sees the whole desktop's typing.
  VKeyLatchChange latch = VKeyLatchChangeFor(code, wParam, event);
  if (latch == VKeyLatchChange::Clear) AppState.vKeyDown.exchange(false);
  if (latch != VKeyLatchChange::Set) {
    return CallNextHookEx(AppState.keyboardHook, code, wParam, lParam);
  }

  KeyEventInputs inputs;
  inputs.code = code;
  inputs.message = wParam;
  inputs.vkCode = event->vkCode;
  inputs.previousVKeyDown = AppState.vKeyDown.exchange(true);
  inputs.controlHeld = IsHeld(VK_CONTROL);
  inputs.shiftHeld = IsHeld(VK_SHIFT);
  inputs.altHeld = IsHeld(VK_MENU);
  inputs.pastingEnabled = AppState.pastingEnabled.load();
  inputs.clipboardHasImage = AppState.clipboardHasImage.load();

  // The foreground window is looked up only for a press that would otherwise qualify.
  HWND foreground = nullptr;
  std::wstring foregroundClass;
  if (IsPasteChord(inputs)) {
    foreground = GetForegroundWindow();
    foregroundClass = GetWindowClassName(foreground);
    inputs.foregroundClass = foregroundClass;
  }

  if (DecideKeyEvent(inputs) == HookAction::SwallowAndPost) {
    PostMessageW(AppState.hiddenWindow, WM_PASTE_REQUEST, reinterpret_cast<WPARAM>(foreground), 0);
    return 1;
  }
  return CallNextHookEx(AppState.keyboardHook, code, wParam, lParam);
}
