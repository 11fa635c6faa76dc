#pragma once

#include <windows.h>

#include <string>

// Another program's Open dialog as a paste target: the common item dialog (IFileOpenDialog,
// which browsers' file pickers and GetOpenFileNameW on Windows 10/11 show) or the Explorer-style
// GetOpenFileNameW dialog, told by its documented structure, never by its title.

// What the hook reads of the foreground window, as plain values.
struct OpenDialogFacts {
  std::wstring className;           // of the foreground window: "#32770" for a dialog
  bool hasOkButton = false;         // an IDOK child
  bool focusInFileNameBox = false;  // the focus is the edit edt1 or the edit inside cmb13
  bool elevated = false;            // its process runs above Dropleaf's integrity level
  bool boxAnswered = false;         // the box told its length within the time-out
  LRESULT boxLength = 0;
  std::wstring okText;    // the OK button's text, as the dialog answered it
  std::wstring saveText;  // the system's own "Save" label, which a Save dialog's OK button shows
};

// The rule: a dialog with an OK button whose keyboard focus is in its File name box, and that
// box empty (every Save dialog proposes a name); not a Save dialog, not an elevated program's.
bool IsEmptyOpenDialogBox(const OpenDialogFacts& facts);

// The edit of the foreground window's File name box when the window is such a dialog, else null.
// What it asks of the dialog's process goes through SendMessageTimeoutW with a short time-out: a
// dialog that hangs or closes meanwhile is no target. Runs on the hook's thread.
HWND FindEmptyOpenDialogBox(HWND foreground);
