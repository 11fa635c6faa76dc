#include "paste/shell_windows.h"

#include <shlobj.h>

ComPtr<IShellWindows> OpenShellWindows() {
  ComPtr<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IShellWindows,
                              windows.PutVoid()))) {
    windows.Reset();
  }
  return windows;
}

bool ShellWindowBrowserAt(IShellWindows* windows, long index, ComPtr<IWebBrowser2>& browser,
                          HWND& frame) {
  VARIANT item;
  VariantInit(&item);
  item.vt = VT_I4;
  item.lVal = index;
  ComPtr<IDispatch> dispatch;
  HRESULT hr = windows->Item(item, dispatch.Put());
  VariantClear(&item);
  if (FAILED(hr) || !dispatch.As(IID_IWebBrowser2, browser)) return false;
  SHANDLE_PTR handle = 0;
  if (FAILED(browser->get_HWND(&handle))) return false;
  frame = reinterpret_cast<HWND>(handle);
  return true;
}
