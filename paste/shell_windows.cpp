#include "paste/shell_windows.h"

#include <shlguid.h>

using Microsoft::WRL::ComPtr;

std::vector<size_t> EntriesToTry(const std::vector<ShellWindowEntry>& entries, HWND frame,
                                 HWND activeTab) {
  std::vector<size_t> order;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].frame != frame) continue;
    if (activeTab && entries[i].tab == activeTab) return {i};
    order.push_back(i);
  }
  // Several tabs, none of them reporting the active one: any choice could be a tab the user
  // is not looking at, so none is made.
  if (activeTab && order.size() > 1) return {};
  return order;
}

namespace {

bool BrowserAt(IShellWindows* windows, long index, ComPtr<IWebBrowser2>& browser, HWND& frame) {
  VARIANT item;
  VariantInit(&item);
  item.vt = VT_I4;
  item.lVal = index;
  ComPtr<IDispatch> dispatch;
  HRESULT hr = windows->Item(item, &dispatch);
  VariantClear(&item);
  // A window that closed after the count was read answers S_FALSE and no object; ComPtr::As
  // would call through the null pointer.
  if (hr != S_OK || !dispatch || FAILED(dispatch.As(&browser)) || !browser) return false;
  SHANDLE_PTR handle = 0;
  if (FAILED(browser->get_HWND(&handle))) return false;
  frame = reinterpret_cast<HWND>(handle);
  return true;
}

}  // namespace

ComPtr<IShellBrowser> ShellBrowserOf(const ComPtr<IWebBrowser2>& browser) {
  ComPtr<IServiceProvider> services;
  ComPtr<IShellBrowser> shellBrowser;
  if (FAILED(browser.As(&services)) ||
      FAILED(services->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&shellBrowser))) ||
      !shellBrowser) {
    shellBrowser.Reset();
  }
  return shellBrowser;
}

std::vector<FrameShellWindow> ShellWindowsOfFrame(HWND frame) {
  ComPtr<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&windows))) ||
      !windows) {
    return {};
  }
  // The count's result is not examined: a failed call leaves nothing to look at.
  long count = 0;
  windows->get_Count(&count);
  // The active tab of a tabbed window is its first tab window in z-order; a frame without
  // tab windows needs no tab lookups.
  const HWND activeTab = FindWindowExW(frame, nullptr, L"ShellTabWindowClass", nullptr);
  std::vector<FrameShellWindow> found;
  std::vector<ShellWindowEntry> entries;
  for (long i = 0; i < count; ++i) {
    FrameShellWindow window;
    ShellWindowEntry entry;
    if (!BrowserAt(windows.Get(), i, window.browser, entry.frame) || entry.frame != frame) continue;
    if (activeTab) window.shellBrowser = ShellBrowserOf(window.browser);
    if (window.shellBrowser) window.shellBrowser->GetWindow(&entry.tab);
    found.push_back(std::move(window));
    entries.push_back(entry);
  }
  std::vector<FrameShellWindow> ordered;
  for (size_t i : EntriesToTry(entries, frame, activeTab)) ordered.push_back(std::move(found[i]));
  return ordered;
}
