#include "paste/folder_resolution.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "app/com_ptr.h"
#include "paste/keyboard_hook.h"
#include "paste/shell_windows.h"

namespace {

constexpr DWORD kUrlBufferLength = 32768;

std::wstring DesktopFolderPath() {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &path)) && path) {
    result = path;
  }
  CoTaskMemFree(path);
  return result;
}

bool IsExistingDirectory(const std::wstring& path) {
  return PathIsDirectoryW(path.c_str()) != FALSE;
}

// The location URL of one entry of the collection, or empty; the handle stays null when
// the entry is not a web browser object.
ShellWindowEntry ReadShellWindow(IShellWindows* windows, LONG index) {
  ShellWindowEntry entry;
  ComPtr<IWebBrowser2> browser;
  if (!ShellWindowBrowserAt(windows, index, browser, entry.window)) return entry;
  BSTR url = nullptr;
  if (SUCCEEDED(browser->get_LocationURL(&url)) && url) {
    entry.locationUrl.assign(url, SysStringLen(url));
  }
  SysFreeString(url);
  return entry;
}

}  // namespace

std::vector<ShellWindowEntry> ListShellWindows() {
  std::vector<ShellWindowEntry> entries;
  ComPtr<IShellWindows> windows = OpenShellWindows();
  if (!windows) return entries;
  long count = 0;
  if (FAILED(windows->get_Count(&count))) return entries;
  for (long i = 0; i < count; ++i) {
    ShellWindowEntry entry = ReadShellWindow(windows.Get(), i);
    if (entry.window) entries.push_back(std::move(entry));
  }
  return entries;
}

std::wstring ChooseFolderForWindow(HWND window, bool isDesktop, const FolderLookup& lookup) {
  if (!window) return {};
  if (isDesktop) return lookup.desktopFolder();
  for (const ShellWindowEntry& entry : lookup.shellWindows()) {
    if (entry.window != window) continue;
    std::wstring path = lookup.urlToPath(entry.locationUrl);
    if (!path.empty() && lookup.isDirectory(path)) return path;
  }
  return {};
}

std::wstring ResolveFolderForWindow(HWND window) {
  if (!window) return {};
  FolderLookup lookup{DesktopFolderPath, ListShellWindows, FileUrlToPath, IsExistingDirectory};
  return ChooseFolderForWindow(window, IsDesktopWindow(window), lookup);
}

std::wstring FileUrlToPath(const std::wstring& url) {
  if (url.empty()) return {};
  std::wstring buffer(kUrlBufferLength, L'\0');
  DWORD length = kUrlBufferLength;
  if (FAILED(PathCreateFromUrlW(url.c_str(), &buffer[0], &length, 0))) return {};
  buffer.resize(wcsnlen(buffer.c_str(), kUrlBufferLength));
  return buffer;
}
