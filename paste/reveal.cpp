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
  ScopedIdList(ScopedIdList&& other) noexcept : list_(other.list_) { other.list_ = nullptr; }

  PIDLIST_ABSOLUTE Get() const { return list_; }
  PIDLIST_ABSOLUTE* Put() {
    ILFree(list_);
    list_ = nullptr;
    return &list_;
  }

 private:
  PIDLIST_ABSOLUTE list_;
};

// One entry of the shell-windows collection whose frame is the target: the view to
// select in and the folder it shows.
struct ShellView {
  HWND window = nullptr;
  ComPtr<IShellView> view;
  ScopedIdList currentFolder;
};

bool ReadShellView(IShellWindows* windows, LONG index, HWND target, ShellView& out) {
  ComPtr<IWebBrowser2> browser;
  if (!ShellWindowBrowserAt(windows, index, browser, out.window)) return false;
  // Only the target's own entries are worth the calls into Explorer's view.
  if (out.window != target) return true;
  ComPtr<IServiceProvider> services;
  ComPtr<IShellBrowser> shellBrowser;
  ComPtr<IFolderView> folderView;
  ComPtr<IPersistFolder2> folder;
  if (!browser.As(IID_IServiceProvider, services) ||
      FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                    shellBrowser.PutVoid())) ||
      !shellBrowser || FAILED(shellBrowser->QueryActiveShellView(out.view.Put())) ||
      !out.view.As(IID_IFolderView, folderView) ||
      FAILED(folderView->GetFolder(IID_IPersistFolder2, folder.PutVoid())) || !folder) {
    return true;
  }
  folder->GetCurFolder(out.currentFolder.Put());
  return true;
}

// Selects the file in the first view of the target frame that shows its folder.
void SelectInExplorer(HWND target, PCIDLIST_ABSOLUTE file, PCIDLIST_ABSOLUTE folder) {
  ComPtr<IShellWindows> windows = OpenShellWindows();
  if (!windows) return;
  // The count's result is not examined: a failed call leaves nothing to look at.
  long count = 0;
  windows->get_Count(&count);
  std::vector<ShellView> views;
  for (long i = 0; i < count; ++i) {
    ShellView view;
    if (ReadShellView(windows.Get(), i, target, view)) views.push_back(std::move(view));
  }
  std::vector<RevealEntry> entries;
  for (const ShellView& view : views) entries.push_back({view.window, view.currentFolder.Get()});
  int match = FindRevealEntry(
      target, entries, folder,
      [](PCIDLIST_ABSOLUTE a, PCIDLIST_ABSOLUTE b) { return ILIsEqual(a, b) != FALSE; });
  if (match >= 0) views[match].view->SelectItem(ILFindLastID(file), kSelectFlags);
}

}  // namespace

int FindRevealEntry(HWND targetWindow, const std::vector<RevealEntry>& entries,
                    PCIDLIST_ABSOLUTE folder, const ItemIdListsEqual& equal) {
  for (size_t i = 0; i < entries.size(); ++i) {
    const RevealEntry& entry = entries[i];
    if (entry.window == targetWindow && entry.currentFolder && equal(entry.currentFolder, folder)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void RevealSavedFile(HWND targetWindow, const std::wstring& path) {
  SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, path.c_str(), nullptr);
  if (!IsWindow(targetWindow) || IsDesktopWindow(targetWindow)) return;
  ScopedIdList file;
  if (FAILED(SHParseDisplayName(path.c_str(), nullptr, file.Put(), 0, nullptr)) || !file.Get()) {
    return;
  }
  ScopedIdList folder(ILClone(file.Get()));
  if (!folder.Get() || !ILRemoveLastID(folder.Get())) return;
  SelectInExplorer(targetWindow, file.Get(), folder.Get());
}
