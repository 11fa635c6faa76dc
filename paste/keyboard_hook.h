#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam);
// The window that receives WM_PASTE_REQUEST: set before the hook is installed, never while
// it is.
void SetPasteRequestWindow(HWND window);

// Whether the keyboard focus is in a text box, where Ctrl+V pastes text: the focus window
// or one of its parents (up to the top-level window) is of a text-box class, or the focus
// thread shows a caret.
bool IsTextBoxFocus(const std::vector<std::wstring>& focusAndParentClasses, bool caretShown);

// What the hook does to the V latch for one event: V key-downs set it, V key-ups clear it.
enum class VKeyLatchChange { Keep, Set, Clear };
VKeyLatchChange VKeyLatchChangeFor(int code, WPARAM message, const KBDLLHOOKSTRUCT* event);

// Everything the Ctrl+V decision depends on, as plain values.
struct KeyEventInputs {
  int code = HC_ACTION;
  WPARAM message = WM_KEYDOWN;
  DWORD vkCode = 0;
  bool previousVKeyDown = false;
  bool controlHeld = false;
  bool shiftHeld = false;
  bool altHeld = false;
  bool pastingEnabled = false;
  bool clipboardHasImage = false;
  std::wstring_view foregroundClass;
  bool focusInTextBox = false;
  // The foreground window is an Open dialog with the focus in its empty File name box.
  bool emptyOpenDialogBox = false;
  bool clipboardHasText = false;  // where the dialog's own paste of text goes first
};

enum class HookAction { PassOn, SwallowAndPost };

// The key part of the decision: a fresh V key-down with Control alone held, pasting on and
// an image on the clipboard. The foreground window is not consulted.
bool IsPasteChord(const KeyEventInputs& inputs);

// The whole decision: a paste chord over an Explorer folder window or the desktop, with the
// keyboard focus outside its text boxes; or over an Open dialog's empty File name box, with no
// text on the clipboard.
HookAction DecideKeyEvent(const KeyEventInputs& inputs);
