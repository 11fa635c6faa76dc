#pragma once

#include <objidl.h>

#include <functional>
#include <string>

// Writes a new file into the folder whole or not at all: `write` fills a hidden temporary file
// there (not named like a screenshot), which then takes the first free name of
// ChooseOutputPath without replacing anything, the next one if that was taken meanwhile.
// Returns the file's path, or empty, with the temporary file removed: when `write` fails, no
// name is free, or the exit teardown has begun (after WM_ENDSESSION the process may end at any
// moment, and a file renamed then is not to be relied on to be whole).
std::wstring SaveAsNewFile(const std::wstring& folder,
                           const std::function<bool(IStream* file)>& write);
