#pragma once

#include <cstdint>
#include <string>

#include "paste/paste_target.h"

// The folder a paste into the target writes to: the one the Explorer window or the desktop shows,
// or, for an Open dialog, Dropleaf's own %TEMP%\Dropleaf, made when first needed (the dialog
// opens the file where it lies). Empty when there is none.
std::wstring FolderForTarget(const PasteTarget& target);

// At start: Dropleaf's own files in that folder (screenshot names, temporary files left behind)
// older than a day go; any other file there stays.
void RemoveOldDialogFiles();

// The rule for one file of that folder, by its name and its age in seconds.
bool IsOldDialogFile(const std::wstring& name, uint64_t ageSeconds);
