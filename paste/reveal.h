#pragma once

#include <windows.h>

#include <string>

// Tells the shell of the new file and selects it in the view of the frame's entry that shows
// its folder (the active tab first); nothing is reported, whatever happens. A view that does
// not list the file yet is asked again on a timer, for about a second.
void RevealSavedFile(HWND targetWindow, const std::wstring& path);

// Gives up a selection still being retried (at exit, before COM is left).
void DropPendingSelection();
