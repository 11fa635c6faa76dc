#include "paste/paste_operation.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <deque>

#include "core/app_state.h"
#include "core/handles.h"
#include "paste/clipboard_capture.h"
#include "paste/folder_resolution.h"
#include "paste/output_naming.h"
#include "paste/png_encoder.h"
#include "paste/reveal.h"

namespace {

constexpr wchar_t kAppTitle[] = L"Dropleaf";
constexpr wchar_t kSavedTitle[] = L"已保存图片";
constexpr wchar_t kFolderWarning[] = L"无法获取当前文件夹路径。";
constexpr wchar_t kNoImageWarning[] = L"剪贴板中没有可保存的图片。";
constexpr wchar_t kSaveError[] = L"图片保存失败，请检查文件夹写入权限。";

// Encodes into a free name of the folder; the bitmap is deleted here, once, whatever the
// encoding gave. Returns the written path, or empty.
std::wstring SaveBitmap(HBITMAP bitmap, const std::wstring& folder) {
  const ScopedGdiObject owned(bitmap);
  const std::wstring path = ChooseOutputPath(folder);
  return !path.empty() && EncodePngFile(bitmap, path) ? path : std::wstring();
}

}  // namespace

bool PasteIntoFolder(HWND targetWindow, const PasteReport& report) {
  // The folder comes first: without one the clipboard is not touched.
  std::wstring folder = ResolveFolderForWindow(targetWindow);
  if (AppState.teardownBegun.load()) return false;  // ended while Explorer was asked
  if (folder.empty()) {
    report(kAppTitle, kFolderWarning, NIIF_WARNING);
    return false;
  }
  HBITMAP bitmap = CaptureClipboardBitmap(AppState.hiddenWindow);
  if (!bitmap) {
    report(kAppTitle, kNoImageWarning, NIIF_WARNING);
    return false;
  }
  std::wstring path = SaveBitmap(bitmap, folder);
  if (path.empty()) {
    report(kAppTitle, kSaveError, NIIF_ERROR);
    return false;
  }
  if (AppState.teardownBegun.load()) return true;  // no icon to show a balloon any more
  const wchar_t* name = PathFindFileNameW(path.c_str());
  report(kSavedTitle, (name && *name) ? std::wstring(name) : path, NIIF_INFO);
  RevealSavedFile(targetWindow, path);
  return true;
}

void HandlePasteRequest(HWND targetWindow, const PasteReport& report) {
  static std::deque<HWND> waiting;  // user-interface thread only
  static bool running = false;
  waiting.push_back(targetWindow);
  if (running) return;  // the paste under way takes this one up when it is done
  running = true;
  while (!waiting.empty() && !AppState.teardownBegun.load()) {
    const HWND next = waiting.front();
    waiting.pop_front();
    PasteIntoFolder(next, report);
  }
  waiting.clear();  // what the teardown left waiting is dropped
  running = false;
}

void StopPasting() {
  AppState.teardownBegun.exchange(true);
  DropPendingSelection();
}
