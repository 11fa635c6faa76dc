#include "paste/paste_operation.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <deque>
#include <new>

#include "core/app_state.h"
#include "paste/clipboard_capture.h"
#include "paste/file_name_box.h"
#include "paste/image_source.h"
#include "paste/output_file.h"
#include "paste/png_encoder.h"
#include "paste/reveal.h"
#include "paste/target_folder.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kAppTitle[] = L"Dropleaf";
constexpr wchar_t kSavedTitle[] = L"已保存图片";
constexpr wchar_t kFolderWarning[] = L"无法获取当前文件夹路径。";
constexpr wchar_t kNoImageWarning[] = L"剪贴板中没有可保存的图片。";
constexpr wchar_t kSaveError[] = L"图片保存失败，请检查文件夹写入权限。";

// The last step: Explorer selects the file after the balloon; an Open dialog's box gets its path
// before it, and where the box could not take it the balloon gives the whole path instead.
void TellTarget(const PasteTarget& target, const std::wstring& path, const PasteReport& report) {
  const wchar_t* name = PathFindFileNameW(path.c_str());
  const std::wstring shown = (name && *name) ? std::wstring(name) : path;
  if (target.fileNameBox) {
    const bool told = PutPathIntoFileNameBox(target.fileNameBox, path);
    // The box is another process's: waiting on it lets sent messages in, the teardown's too.
    if (!AppState.teardownBegun.load()) report(kSavedTitle, told ? shown : path, NIIF_INFO);
    return;
  }
  report(kSavedTitle, shown, NIIF_INFO);
  // The balloon waits on the shell in a sent message, where the teardown can run too.
  if (AppState.teardownBegun.load()) return;
  RevealSavedFile(target.window, path);
}

}  // namespace

bool PasteIntoTarget(const PasteTarget& target, const PasteReport& report) {
  // The folder comes first: without one the clipboard is not touched.
  std::wstring folder = FolderForTarget(target);
  if (AppState.teardownBegun.load()) return false;  // ended while Explorer was asked
  if (folder.empty()) {
    // Dropleaf's own folder for a dialog that cannot be made is a folder it cannot write.
    if (target.fileNameBox) {
      report(kAppTitle, kSaveError, NIIF_ERROR);
    } else {
      report(kAppTitle, kFolderWarning, NIIF_WARNING);
    }
    return false;
  }
  // The imaging factory before the clipboard is opened: it stays open only for the copy.
  const ComPtr<IWICImagingFactory> factory = CreateImagingFactory();
  // A delay-rendered format is rendered by its owner inside GetClipboardData, in a sent
  // message: the teardown may have run meanwhile. Nothing after it, until the target is told,
  // lets a sent message in, so no file is renamed into place once the teardown has begun.
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
  TellTarget(target, path, report);
  return true;
}

void HandlePasteRequest(const PasteTarget& target, const PasteReport& report) {
  static std::deque<PasteTarget> waiting;  // user-interface thread only
  static bool running = false;
  try {
    waiting.push_back(target);
  } catch (const std::bad_alloc&) {
    return;  // no memory left even for the request: nothing was saved
  }
  if (running) return;  // the paste under way takes this one up when it is done
  running = true;
  while (!waiting.empty() && !AppState.teardownBegun.load()) {
    const PasteTarget next = waiting.front();
    waiting.pop_front();
    try {
      PasteIntoTarget(next, report);
    } catch (const std::bad_alloc&) {  // a buffer of the paste's that could not be had
      report(kAppTitle, kSaveError, NIIF_ERROR);
    }
  }
  waiting.clear();  // what the teardown left waiting is dropped
  running = false;
}

void StopPasting() {
  AppState.teardownBegun.exchange(true);
  DropPendingSelection();
}
