// Another program's file dialog, as a browser or a mail client shows it when the user uploads:
//   dialog_host item-open OUT | legacy-open OUT | item-save OUT [NAME] | legacy-save OUT
// shows an IFileOpenDialog, the Explorer-style GetOpenFileNameW dialog, an IFileSaveDialog
// proposing NAME, or the Explorer-style GetSaveFileNameW dialog; the path chosen goes into the file
// OUT (UTF-16). Exit code 0 when one was chosen, 1 when the dialog was cancelled, 2 when it could
// not be shown.
#include <windows.h>
#include <commdlg.h>
#include <shobjidl.h>

#include <wrl/client.h>

#include <fstream>
#include <string>

using Microsoft::WRL::ComPtr;

namespace {

std::wstring ItemDialog(bool save, const wchar_t* name, int& code) {
  ComPtr<IFileDialog> dialog;
  code = 2;
  if (FAILED(CoCreateInstance(save ? CLSID_FileSaveDialog : CLSID_FileOpenDialog, nullptr,
                              CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) {
    return {};
  }
  if (name) dialog->SetFileName(name);
  code = 1;
  ComPtr<IShellItem> item;
  PWSTR path = nullptr;
  if (FAILED(dialog->Show(nullptr)) || FAILED(dialog->GetResult(&item)) ||
      FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
    return {};
  }
  std::wstring chosen = path;
  CoTaskMemFree(path);
  code = 0;
  return chosen;
}

std::wstring LegacyDialog(bool save, int& code) {
  wchar_t path[MAX_PATH] = {};
  OPENFILENAMEW open = {};
  open.lStructSize = sizeof(open);
  open.lpstrFile = path;
  open.nMaxFile = MAX_PATH;
  open.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST;
  code = (save ? GetSaveFileNameW(&open) : GetOpenFileNameW(&open)) ? 0 : 1;
  return path;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::wstring kind = argv[1];
  int code = 2;
  const std::wstring chosen =
      kind.rfind(L"legacy-", 0) == 0
          ? LegacyDialog(kind == L"legacy-save", code)
          : ItemDialog(kind == L"item-save", argc > 3 ? argv[3] : nullptr, code);
  std::ofstream(argv[2], std::ios::binary)
      .write(reinterpret_cast<const char*>(chosen.data()), std::streamsize(chosen.size() * 2));
  CoUninitialize();
  return code;
}
