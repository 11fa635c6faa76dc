#include "paste/keyboard_hook.h"

#include "core/app_state.h"
#include "paste/clipboard_formats.h"
#include "paste/open_dialog.h"
#include "paste/window_classes.h"

namespace {

constexpr DWORD VK_V_KEY = 0x56;
constexpr size_t kMaxFocusDepth = 32;  // a focus chain deeper than any real window's

HWND pasteRequestWindow = nullptr;

// Text boxes, by the class of the focus window or of a parent of it:
// - "Edit": the edit control (WC_EDIT); Explorer's and the desktop's rename box, and the
//   address bar while it is edited, are edit controls.
// - "RichEdit20W", "RichEdit20A", "RICHEDIT50W" (RICHEDIT_CLASS, MSFTEDIT_CLASS) and
//   "RichEditD2DPT" (the Direct2D rich edit of Windows 11): rich edit controls.
// - "SearchEditBoxWrapperClass": Windows 10 Explorer's search box; the focus inside it is a
//   DirectUIHWND, like the file list, so only this parent tells them apart.
// - "Windows.UI.Input.InputSite.WindowClass", "Windows.UI.Composition.DesktopWindowContentBridge",
//   "Microsoft.UI.Content.DesktopChildSiteBridge": the hosts of XAML content, which is
//   where Windows 10 (1909 on) and 11 Explorer put the search box and the address bar; the
//   file list and the navigation pane are never inside one.
constexpr std::wstring_view kTextBoxClasses[] = {
    L"Edit",
    L"RichEdit20W",
    L"RichEdit20A",
    L"RICHEDIT50W",
    L"RichEditD2DPT",
    L"SearchEditBoxWrapperClass",
    L"Windows.UI.Input.InputSite.WindowClass",
    L"Windows.UI.Composition.DesktopWindowContentBridge",
    L"Microsoft.UI.Content.DesktopChildSiteBridge",
};

bool IsKeyDownMessage(WPARAM message) { return message == WM_KEYDOWN || message == WM_SYSKEYDOWN; }

bool IsKeyUpMessage(WPARAM message) { return message == WM_KEYUP || message == WM_SYSKEYUP; }

bool IsHeld(int virtualKey) { return (GetAsyncKeyState(virtualKey) & 0x8000) != 0; }

// Where the foreground window's thread has its keyboard focus: GetGUIThreadInfo reads it
// without a message to Explorer, which could be busy; the walk up uses no message either.
bool FocusIsInTextBox(HWND foreground) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(foreground, nullptr), &info)) return false;
  std::vector<std::wstring> classes;
  for (HWND window = info.hwndFocus;
       window && window != foreground && classes.size() < kMaxFocusDepth;
       window = GetAncestor(window, GA_PARENT)) {
    classes.push_back(GetWindowClassName(window));
  }
  // A caret that shows (blinks), not one merely created: controls without a text caret may
  // keep a hidden one only to tell accessibility tools where their focus is.
  return IsTextBoxFocus(classes, info.hwndCaret && (info.flags & GUI_CARETBLINKING));
}

}  // namespace

void SetPasteRequestWindow(HWND window) { pasteRequestWindow = window; }

bool IsTextBoxFocus(const std::vector<std::wstring>& focusAndParentClasses, bool caretShown) {
  if (caretShown) return true;
  for (const std::wstring& name : focusAndParentClasses) {
    for (std::wstring_view textBox : kTextBoxClasses) {
      if (name == textBox) return true;
    }
  }
  return false;
}

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
  if (!IsPasteChord(inputs)) return HookAction::PassOn;
  if (IsExplorerOrDesktopClassName(inputs.foregroundClass) && !inputs.focusInTextBox) {
    return HookAction::SwallowAndPost;
  }
  if (inputs.emptyOpenDialogBox && !inputs.clipboardHasText) return HookAction::SwallowAndPost;
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
  // Asked of the clipboard itself: a notice of its change may still wait in the queue of a busy
  // user-interface thread (a long paste), and files copied meanwhile are Explorer's.
  inputs.clipboardHasImage = ClipboardHoldsImage();

  // The foreground window and its focus are looked up only for a press that would otherwise
  // qualify.
  HWND foreground = nullptr;
  HWND fileNameBox = nullptr;
  std::wstring foregroundClass;
  if (IsPasteChord(inputs)) {
    foreground = GetForegroundWindow();
    foregroundClass = GetWindowClassName(foreground);
    inputs.foregroundClass = foregroundClass;
    if (IsExplorerOrDesktopClassName(foregroundClass)) {
      inputs.focusInTextBox = FocusIsInTextBox(foreground);
    } else if (foregroundClass == L"#32770") {  // a dialog: an Open dialog's box may take it
      inputs.clipboardHasText = ClipboardHoldsText();
      // The dialog is asked only where its own paste of text does not come first, with short
      // time-outs: every key of the desktop waits meanwhile.
      if (!inputs.clipboardHasText) fileNameBox = FindEmptyOpenDialogBox(foreground);
      inputs.emptyOpenDialogBox = fileNameBox != nullptr;
    }
  }

  if (DecideKeyEvent(inputs) == HookAction::SwallowAndPost) {
    PostMessageW(pasteRequestWindow, WM_PASTE_REQUEST, reinterpret_cast<WPARAM>(foreground),
                 reinterpret_cast<LPARAM>(fileNameBox));
    return 1;
  }
  return CallNextHookEx(AppState.keyboardHook, code, wParam, lParam);
}
