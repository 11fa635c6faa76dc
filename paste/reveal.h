#pragma once

#include <windows.h>
#include <shtypes.h>

#include <functional>
#include <string>
#include <vector>

void RevealSavedFile(HWND targetWindow, const std::wstring& path);

// One shell window as far as revealing needs it: its frame handle and the item-ID list of
// the folder its view shows (null when that could not be read).
struct RevealEntry {
  HWND window = nullptr;
  PCIDLIST_ABSOLUTE currentFolder = nullptr;
};

using ItemIdListsEqual = std::function<bool(PCIDLIST_ABSOLUTE, PCIDLIST_ABSOLUTE)>;

// Index of the first entry of the target frame whose view shows `folder`; -1 when none.
int FindRevealEntry(HWND targetWindow, const std::vector<RevealEntry>& entries,
                    PCIDLIST_ABSOLUTE folder, const ItemIdListsEqual& equal);
