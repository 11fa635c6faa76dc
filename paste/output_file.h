#pragma once

#include <objidl.h>

#include <functional>
#include <string>

#include "paste/output_naming.h"

// Writes a new file into the folder whole or not at all: `write` fills a hidden temporary file
// there (not named like a screenshot), which is flushed to the disk and then takes the first
// free name of `choosePath` without replacing anything, the next one if that was taken
// meanwhile; only then is it made visible. A file held by another program for a moment is
// waited for, about a second at each step.
// Returns the file's path, or empty, with the temporary file removed, when `write` fails or no
// name is free. A process ended meanwhile (after WM_ENDSESSION Windows may end it at any moment)
// leaves at most the hidden temporary file, never a cut one under a screenshot's name.
std::wstring SaveAsNewFile(
    const std::wstring& folder, const std::function<bool(IStream* file)>& write,
    const std::function<std::wstring(const std::wstring& folder)>& choosePath = ChooseOutputPath);
