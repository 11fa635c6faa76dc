#include "paste/paste_operation.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <deque>

#include "core/app_state.h"
#include "paste/clipboard_capture.h"
#include "paste/folder_resolution.h"
#include "paste/image_source.h"
#include "paste/output_file.h"
#include "paste/png_encoder.h"
#include "paste/reveal.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kAppTitle[] = L"Dropleaf";
constexpr wchar_t kSavedTitle[] = L"已保存图片";
constexpr wchar_t kFolderWarning[] = L"无法获取当前文件夹路径。";
constexpr wchar_t kNoImageWarning[] = L"剪贴板中没有可保存的图片。";
constexpr wchar_t kSaveError[] = L"图片保存失败，请检查文件夹写入权限。";

}  // namespace

bool PasteIntoFolder(HWND targetWindow, const PasteReport& report) {
  // The folder comes first: without one the clipboard is not touched.
  std::wstring folder = ResolveFolderForWindow(targetWindow);
  if (AppState.teardownBegun.load()) return false;  // ended while Explorer was asked
  if (folder.empty()) {
    report(kAppTitle, kFolderWarning, NIIF_WARNING);
    return false;
  }
  // The imaging factory before the clipboard is opened: it stays open only for the copy.
  const ComPtr<IWICImagingFactory> factory = CreateImagingFactory();
  // A delay-rendered format is rendered by its owner inside GetClipboardData, in a sent
  // message: the teardown may have run meanwhile. Nothing after it, until the balloon, lets a
  // sent message in, so no file is renamed into place once the teardown has begun.
  ClipboardImage image = CaptureClipboardImage(AppState.hiddenWindow, factory.Get());
  if (AppState.teardownBegun.load()) return false;
  PngContent content;
  if (!PreparePngContent(std::move(image), factory.Get(), content)) {
    report(kAppTitle, kNoImageWarning, NIIF_WARNING);
    return false;
  }
  const std::wstring path =
      SaveAsNewFile(folder, [&](IStream* file) { return WritePngContent(content, file); });
  if (path.empty()) {
    report(kAppTitle, kSaveError, NIIF_ERROR);
    return false;
  }
  const wchar_t* name = PathFindFileNameW(path.c_str());
  report(kSavedTitle, (name && *name) ? std::wstring(name) : path, NIIF_INFO);
  // The balloon waits on the shell in a sent message, where the teardown can run too.
  if (AppState.teardownBegun.load()) return true;
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
