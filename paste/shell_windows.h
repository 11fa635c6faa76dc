#pragma once

#include <windows.h>
#include <exdisp.h>

#include "app/com_ptr.h"

// The shell's collection of open Explorer windows; null when it cannot be had.
ComPtr<IShellWindows> OpenShellWindows();

// Entry `index` of the collection as a web browser object, with its frame handle; false
// when the entry is missing or is no browser.
bool ShellWindowBrowserAt(IShellWindows* windows, long index, ComPtr<IWebBrowser2>& browser,
                          HWND& frame);
