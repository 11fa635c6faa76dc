#pragma once

#include <windows.h>

// The whole life of the process: single instance, COM, the hidden window, the keyboard
// hook and the message loop. Returns the process exit code.
int RunDropleaf(HINSTANCE instance);
