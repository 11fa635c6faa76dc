#include "paste/output_file.h"

#include <windows.h>
#include <shlwapi.h>

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kNameAttempts = 16;  // names taken meanwhile, one after another
constexpr DWORD kHeldRetryMs = 50, kHeldRetryForMs = 1000;

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

// An antivirus, a sync client or Explorer's thumbnailer may hold a file that was just closed
// for a moment (a sharing violation, access denied): such a refusal is tried again for about a
// second. True when `attempt` succeeded; GetLastError tells why not otherwise.
bool RetriedWhileHeld(const std::function<bool()>& attempt) {
  for (DWORD waited = 0;; waited += kHeldRetryMs) {
    if (attempt()) return true;
    const DWORD error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
         error != ERROR_LOCK_VIOLATION) ||
        waited >= kHeldRetryForMs) {
      SetLastError(error);
      return false;
    }
    Sleep(kHeldRetryMs);
  }
}

// On the disk, not only in the system's cache, before it takes a screenshot's name: after a
// power loss that name never holds zeros.
bool FlushToDisk(const std::wstring& path) {
  return RetriedWhileHeld([&] {
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool flushed = FlushFileBuffers(file);
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return flushed;
  });
}

// Without MOVEFILE_REPLACE_EXISTING the rename fails where the name exists: a file another
// program made after the name was chosen is never overwritten.
std::wstring RenameToFreeName(const std::wstring& temporary, const std::wstring& folder,
                              const std::function<std::wstring(const std::wstring&)>& choosePath) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::wstring path = choosePath(folder);
    if (path.empty()) return {};
    if (RetriedWhileHeld([&] { return MoveFileExW(temporary.c_str(), path.c_str(), 0); })) {
      return path;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return {};
  }
  return {};
}

// The hidden bit alone goes, the rest (archive, a sync client's pinned state) stays. A file that
// keeps it is still whole: it is kept, never thrown away for an attribute.
void MakeVisible(const std::wstring& path) {
  RetriedWhileHeld([&] {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    const DWORD visible = attributes & ~DWORD(FILE_ATTRIBUTE_HIDDEN);
    return SetFileAttributesW(path.c_str(), visible ? visible : FILE_ATTRIBUTE_NORMAL) != 0;
  });
}

}  // namespace

std::wstring SaveAsNewFile(const std::wstring& folder,
                           const std::function<bool(IStream* file)>& write,
                           const std::function<std::wstring(const std::wstring&)>& choosePath) {
  ComPtr<IStream> file;
  const std::wstring temporary = CreateTemporaryFile(folder, file);
  if (temporary.empty()) return {};
  const bool written = write(file.Get()) && SUCCEEDED(file->Commit(STGC_DEFAULT));
  file.Reset();  // closes it
  std::wstring path;
  if (written && FlushToDisk(temporary)) path = RenameToFreeName(temporary, folder, choosePath);
  if (path.empty()) {
    // One that cannot be removed either stays hidden, under a name no screenshot has.
    RetriedWhileHeld([&] { return DeleteFileW(temporary.c_str()) != 0; });
    return {};
  }
  MakeVisible(path);
  return path;
}
