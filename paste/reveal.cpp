#include "paste/reveal.h"

#include <shlobj.h>

#include "app/com_ptr.h"
#include "paste/keyboard_hook.h"
#include "paste/shell_windows.h"

namespace {

constexpr UINT kSelectFlags = SVSI_SELECT | SVSI_DESELECTOTHERS | SVSI_ENSUREVISIBLE | SVSI_FOCUSED;

// Frees an item-ID list when it goes out of scope.
class ScopedIdList {
 public:
  explicit ScopedIdList(PIDLIST_ABSOLUTE list = nullptr) : list_(list) {}
  ~ScopedIdList() { ILFree(list_); }
  ScopedIdList(const ScopedIdList&) = delete;
  ScopedIdList& operator=(const ScopedIdList&) = delete;

  PIDLIST_ABSOLUTE Get() const { return list_; }
  PIDLIST_ABSOLUTE* Put() {
    ILFree(list_);
    list_ = nullptr;
    return &list_;
  }

 private:
  PIDLIST_ABSOLUTE list_;
};

// The folder an entry's view shows, and that view; false when either cannot be had.
bool ReadView(const FrameShellWindow& entry, ComPtr<IShellView>& view, ScopedIdList& folder) {
  ComPtr<IShellBrowser> asked;
  IShellBrowser* shellBrowser = entry.shellBrowser.Get();
  if (!shellBrowser) {
    asked = ShellBrowserOf(entry.browser);
    shellBrowser = asked.Get();
  }
  ComPtr<IFolderView> folderView;
  ComPtr<IPersistFolder2> persist;
  return shellBrowser && SUCCEEDED(shellBrowser->QueryActiveShellView(view.Put())) &&
         view.As(IID_IFolderView, folderView) &&
         SUCCEEDED(folderView->GetFolder(IID_IPersistFolder2, persist.PutVoid())) && persist &&
         SUCCEEDED(persist->GetCurFolder(folder.Put())) && folder.Get();
}

}  // namespace

void RevealSavedFile(HWND targetWindow, const std::wstring& path) {
  SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, path.c_str(), nullptr);
  if (!IsWindow(targetWindow) || IsDesktopWindow(targetWindow)) return;
  ScopedIdList file;
  if (FAILED(SHParseDisplayName(path.c_str(), nullptr, file.Put(), 0, nullptr)) || !file.Get()) {
    return;
  }
  ScopedIdList folder(ILClone(file.Get()));
  if (!folder.Get() || !ILRemoveLastID(folder.Get())) return;
  for (const FrameShellWindow& entry : ShellWindowsOfFrame(targetWindow)) {
    ComPtr<IShellView> view;
    ScopedIdList shown;
    if (ReadView(entry, view, shown) && ILIsEqual(shown.Get(), folder.Get())) {
      view->SelectItem(ILFindLastID(file.Get()), kSelectFlags);
      return;
    }
  }
}
