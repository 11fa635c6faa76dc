#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

std::wstring ResolveFolderForWindow(HWND window);
std::wstring FileUrlToPath(const std::wstring& url);

// One open shell window as the shell lists it: its frame handle and its location URL
// (empty when the shell gave none).
struct ShellWindowEntry {
  HWND window = nullptr;
  std::wstring locationUrl;
};

// The platform operations the folder choice depends on, so the rule can run without the
// shell. shellWindows yields the entries in the shell's index order, none when the
// collection is unavailable.
struct FolderLookup {
  std::function<std::wstring()> desktopFolder;
  std::function<std::vector<ShellWindowEntry>()> shellWindows;
  std::function<std::wstring(const std::wstring&)> urlToPath;
  std::function<bool(const std::wstring&)> isDirectory;
};

// The folder a window shows: the desktop folder for the desktop, else the first entry of
// that exact frame whose location is an existing directory; empty when none qualifies.
std::wstring ChooseFolderForWindow(HWND window, bool isDesktop, const FolderLookup& lookup);

// The shell's open windows in index order; empty when the collection cannot be had.
std::vector<ShellWindowEntry> ListShellWindows();
