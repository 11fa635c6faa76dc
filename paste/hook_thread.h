#pragma once

// The low-level keyboard hook lives on a thread of its own that does nothing else, so a
// busy user-interface thread (a long paste, a modal box) never delays the desktop's typing
// and the system never drops the hook for missing its time-out.

// Starts the thread, installs the hook there and waits for the outcome; false when the hook
// could not be installed (the thread has ended again by then).
bool StartKeyboardHookThread();

// Unhooks and ends the thread; does nothing when none runs.
void StopKeyboardHookThread();
