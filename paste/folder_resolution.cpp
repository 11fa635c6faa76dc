#include "paste/folder_resolution.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "core/app_state.h"
#include "paste/window_classes.h"
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

// The entry's location as a folder path, or empty when it is no file URL of a directory.
std::wstring FolderOfEntry(IWebBrowser2* browser) {
  BSTR url = nullptr;
  std::wstring path;
  if (SUCCEEDED(browser->get_LocationURL(&url)) && url) {
    path = FileUrlToPath(std::wstring(url, SysStringLen(url)));
  }
  SysFreeString(url);
  if (path.empty() || !PathIsDirectoryW(path.c_str())) return {};
  return path;
}

}  // namespace

std::wstring ResolveFolderForWindow(HWND window) {
  if (!window) return {};
  if (IsDesktopWindow(window)) return DesktopFolderPath();
  for (const FrameShellWindow& entry : ShellWindowsOfFrame(window)) {
    if (AppState.teardownBegun.load()) return {};  // ended while Explorer was asked
    std::wstring folder = FolderOfEntry(entry.browser.Get());
    if (!folder.empty()) return folder;
  }
  return {};
}

std::wstring FileUrlToPath(const std::wstring& url) {
  if (url.empty()) return {};
  std::wstring buffer(kUrlBufferLength, L'\0');
  DWORD length = kUrlBufferLength;
  if (FAILED(PathCreateFromUrlW(url.c_str(), &buffer[0], &length, 0))) return {};
  buffer.resize(wcsnlen(buffer.c_str(), kUrlBufferLength));
  return buffer;
}
