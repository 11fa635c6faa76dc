#pragma once

// Shared by the resource script and the code; plain macros so windres can read it.
#define IDI_APP_ICON 101
