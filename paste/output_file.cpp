#include "paste/output_file.h"

#include <windows.h>
#include <shlwapi.h>

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kNameAttempts = 16;  // names taken meanwhile, one after another

std::wstring InFolder(const std::wstring& folder, const std::wstring& name) {
  return folder.empty() || folder.back() == L'\\' ? folder + name : folder + L'\\' + name;
}

// Created only where no entry of that name exists; hidden while it is being written.
std::wstring CreateTemporaryFile(const std::wstring& folder, ComPtr<IStream>& file) {
  static unsigned counter = 0;  // user-interface thread only
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::wstring path =
        InFolder(folder, L"~Dropleaf-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(++counter) + L".tmp");
    const HRESULT created =
        SHCreateStreamOnFileEx(path.c_str(), STGM_WRITE | STGM_SHARE_DENY_WRITE | STGM_FAILIFTHERE,
                               FILE_ATTRIBUTE_HIDDEN, TRUE, nullptr, &file);
    if (SUCCEEDED(created)) return path;
    if (created != HRESULT_FROM_WIN32(ERROR_FILE_EXISTS) &&
        created != HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)) {
      return {};
    }
  }
  return {};
}

// Without MOVEFILE_REPLACE_EXISTING the rename fails where the name exists: a file another
// program made after the name was chosen is never overwritten.
std::wstring RenameToFreeName(const std::wstring& temporary, const std::wstring& folder,
                              const std::function<std::wstring(const std::wstring&)>& choosePath) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::wstring path = choosePath(folder);
    if (path.empty()) return {};
    if (MoveFileExW(temporary.c_str(), path.c_str(), 0)) return path;
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return {};
  }
  return {};
}

}  // namespace

std::wstring SaveAsNewFile(const std::wstring& folder,
                           const std::function<bool(IStream* file)>& write,
                           const std::function<std::wstring(const std::wstring&)>& choosePath) {
  ComPtr<IStream> file;
  const std::wstring temporary = CreateTemporaryFile(folder, file);
  if (temporary.empty()) return {};
  // No flush: an ended process loses nothing the system already has; a file cut short by one
  // is the risk here, and the rename below is what rules it out.
  const bool written = write(file.Get());
  file.Reset();  // closes it
  std::wstring path;
  if (written && SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL)) {
    path = RenameToFreeName(temporary, folder, choosePath);
  }
  if (path.empty()) DeleteFileW(temporary.c_str());
  return path;
}
