#include "paste/reveal.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <wrl/client.h>

#include "core/app_state.h"
#include "core/handles.h"
#include "paste/window_classes.h"
#include "paste/shell_windows.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr UINT kSelectFlags = SVSI_SELECT | SVSI_DESELECTOTHERS | SVSI_ENSUREVISIBLE | SVSI_FOCUSED;
constexpr int kSelectAttempts = 6;  // the first and five more, 200 ms apart: about a second
constexpr UINT kSelectRetryMs = 200;
constexpr DWORD kPathBufferLength = 32768;

// A selection that the view refused, most likely because Explorer, which hears of new files
// asynchronously, does not list the file yet.
struct PendingSelection {
  ComPtr<IShellView> view;
  ScopedIdList child;
  int attemptsLeft = 0;
  UINT_PTR timer = 0;
};
PendingSelection pending;  // user-interface thread only

void CALLBACK RetrySelection(HWND, UINT, UINT_PTR, DWORD);

// Selects at once, or again on a timer: the user-interface thread never waits for the view.
// The call goes into Explorer, and COM's modal loop dispatches sent messages while it waits:
// the timer is stopped and the selection held in locals before it, so nothing dispatched
// meanwhile can run a retry or release what the call uses.
void SelectOrRetry(ComPtr<IShellView> view, ScopedIdList& child, int attemptsLeft) {
  DropPendingSelection();  // and a newer paste's selection supersedes an older one
  if (SUCCEEDED(view->SelectItem(static_cast<PCUITEMID_CHILD>(child.Get()), kSelectFlags)) ||
      attemptsLeft <= 1 || pending.view ||  // done, given up, or a newer one took over
      AppState.teardownBegun.load()) {      // or the teardown ran while Explorer was asked
    return;
  }
  pending.view = std::move(view);
  pending.child.Reset(child.Release());
  pending.attemptsLeft = attemptsLeft - 1;
  pending.timer = SetTimer(nullptr, 0, kSelectRetryMs, RetrySelection);
  if (!pending.timer) DropPendingSelection();
}

void CALLBACK RetrySelection(HWND, UINT, UINT_PTR, DWORD) {
  if (!pending.view) return;
  ComPtr<IShellView> view = std::move(pending.view);
  ScopedIdList child(pending.child.Release());
  SelectOrRetry(std::move(view), child, pending.attemptsLeft);
}

std::wstring FileSystemPath(PCIDLIST_ABSOLUTE list) {
  std::wstring path(kPathBufferLength, L'\0');
  if (!SHGetPathFromIDListEx(list, &path[0], kPathBufferLength, GPFIDL_DEFAULT)) return {};
  path.resize(wcsnlen(path.c_str(), kPathBufferLength));
  return path;
}

// Equal file-system folders, whatever the letter case or a trailing backslash.
bool SameFolder(std::wstring a, std::wstring b) {
  for (std::wstring* path : {&a, &b}) {
    if (path->size() > 3 && path->back() == L'\\') path->pop_back();
  }
  return !a.empty() && CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()),
                                            TRUE) == CSTR_EQUAL;
}

// The folder an entry's view shows, as its own item-ID list, and that view.
bool ReadView(const FrameShellWindow& entry, ComPtr<IShellView>& view, ScopedIdList& folder) {
  ComPtr<IShellBrowser> asked;
  IShellBrowser* shellBrowser = entry.shellBrowser.Get();
  if (!shellBrowser) {
    asked = ShellBrowserOf(entry.browser);
    shellBrowser = asked.Get();
  }
  ComPtr<IFolderView> folderView;
  ComPtr<IPersistFolder2> persist;
  // A browser between two folders may answer success with no view.
  return shellBrowser && SUCCEEDED(shellBrowser->QueryActiveShellView(&view)) && view &&
         SUCCEEDED(view.As(&folderView)) && folderView &&
         SUCCEEDED(folderView->GetFolder(IID_PPV_ARGS(&persist))) && persist &&
         SUCCEEDED(persist->GetCurFolder(reinterpret_cast<PIDLIST_ABSOLUTE*>(folder.Put()))) &&
         folder.Get();
}

// The file's item-ID as the view's folder names it: parsed by that folder (bound here from
// the view's own item-ID list), so it is right in the view's namespace, be it the Desktop
// root, a known folder reached through This PC or a library. False when it cannot be had.
bool ChildOfFolder(PCIDLIST_ABSOLUTE folder, const wchar_t* name, ScopedIdList& child) {
  ComPtr<IShellFolder> shellFolder;
  HRESULT bound = ILIsEmpty(folder)
                      ? SHGetDesktopFolder(&shellFolder)
                      : SHBindToObject(nullptr, folder, nullptr, IID_PPV_ARGS(&shellFolder));
  if (FAILED(bound) || !shellFolder) return false;
  std::wstring parsable(name);
  return SUCCEEDED(shellFolder->ParseDisplayName(nullptr, nullptr, &parsable[0], nullptr,
                                                 child.Put(), nullptr)) &&
         ILIsChild(child.Get());  // an item of this folder itself
}

}  // namespace

void DropPendingSelection() {
  if (pending.timer) KillTimer(nullptr, pending.timer);
  pending.timer = 0;
  pending.view.Reset();
  pending.child.Reset();
}

void RevealSavedFile(HWND targetWindow, const std::wstring& path) {
  SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, path.c_str(), nullptr);
  if (!IsWindow(targetWindow) || IsDesktopWindow(targetWindow)) return;
  const wchar_t* name = PathFindFileNameW(path.c_str());
  const std::wstring folder(path.c_str(), name);
  // One folder has several item-ID lists (the Desktop as the namespace root, Downloads
  // through This PC, a library's folder): views are matched by file-system path instead.
  for (const FrameShellWindow& entry : ShellWindowsOfFrame(targetWindow)) {
    ComPtr<IShellView> view;
    ScopedIdList shown;
    const bool read = ReadView(entry, view, shown);
    if (AppState.teardownBegun.load()) return;  // ended while Explorer was asked
    if (!read || !SameFolder(FileSystemPath(shown.Get()), folder)) continue;
    ScopedIdList child;
    if (ChildOfFolder(shown.Get(), name, child))
      SelectOrRetry(std::move(view), child, kSelectAttempts);
    return;
  }
}
