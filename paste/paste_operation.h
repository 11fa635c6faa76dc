#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "paste/paste_target.h"

// How an outcome reaches the user: a balloon's title, text and icon kind (NIIF_*).
using PasteReport = std::function<void(const wchar_t* title, const std::wstring& text, DWORD)>;

// One paste into the target: the folder an Explorer window or the desktop shows, the file then
// selected there; or Dropleaf's own folder for an Open dialog, the file's path then in its File
// name box. Its one outcome goes to `report`. True when a PNG file was written.
bool PasteIntoTarget(const PasteTarget& target, const PasteReport& report);

// Carries out paste requests one after another, each once, in the order received. A call
// into Explorer may run a modal loop that dispatches the next request while one is still
// under way; that request waits for its turn instead of running inside the other.
void HandlePasteRequest(const PasteTarget& target, const PasteReport& report);

// The exit teardown's part: no paste request is carried out any more, a paste under way ends
// at its next step without a balloon or a shell call (a file already written stays whole),
// and a selection being retried is given up, so no Explorer object outlives COM.
void StopPasting();
