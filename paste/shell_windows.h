#pragma once

#include <windows.h>
#include <exdisp.h>
#include <shobjidl.h>

#include <vector>

#include <wrl/client.h>

// One entry of the shell's window collection as the choice among entries sees it: its frame
// and the tab window its browser reports (null when that could not be told).
struct ShellWindowEntry {
  HWND frame = nullptr;
  HWND tab = nullptr;
};

// Which entries to try for `frame`, by index, in order. Every tab of a tabbed Explorer
// window is its own entry with the same frame: the active tab's entry alone when one
// reports it; none when the frame has tabs and several entries but none reports the active
// tab; else every entry of the frame in index order.
std::vector<size_t> EntriesToTry(const std::vector<ShellWindowEntry>& entries, HWND frame,
                                 HWND activeTab);

// An entry of `frame`, with the objects that folder resolution and the reveal ask further.
struct FrameShellWindow {
  Microsoft::WRL::ComPtr<IWebBrowser2> browser;
  Microsoft::WRL::ComPtr<IShellBrowser>
      shellBrowser;  // asked for only in a tabbed frame; may be null
};

// The entry's shell browser, or null.
Microsoft::WRL::ComPtr<IShellBrowser> ShellBrowserOf(
    const Microsoft::WRL::ComPtr<IWebBrowser2>& browser);

// The entries of `frame` in the order to try them; none when the collection cannot be had.
// Other frames' entries are asked for their frame handle only: every call goes into
// Explorer's process and waits for it.
std::vector<FrameShellWindow> ShellWindowsOfFrame(HWND frame);
