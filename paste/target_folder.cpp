#include "paste/target_folder.h"

#include <windows.h>

#include <cwctype>

#include "paste/folder_resolution.h"

namespace {

constexpr uint64_t kKeptSeconds = 24 * 60 * 60;
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000;

std::wstring DialogFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return {};
  return std::wstring(temp, length) + L"Dropleaf\\";  // GetTempPathW ends with a backslash
}

bool AllDigits(const std::wstring& text, size_t from, size_t count) {
  if (from + count > text.size()) return false;
  for (size_t i = from; i < from + count; ++i) {
    if (!iswdigit(text[i])) return false;
  }
  return true;
}

// "Screenshot_yyyyMMdd_HHmmss.png", or with "_2" to "_9999" before the extension.
bool IsScreenshotName(const std::wstring& name) {
  const std::wstring head = L"Screenshot_", tail = L".png";
  if (name.compare(0, head.size(), head) != 0 || name.size() < head.size() + 15 + tail.size() ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0 ||
      !AllDigits(name, head.size(), 8) || name[head.size() + 8] != L'_' ||
      !AllDigits(name, head.size() + 9, 6)) {
    return false;
  }
  const size_t rest = head.size() + 15, suffix = name.size() - tail.size() - rest;
  return suffix == 0 || (suffix >= 2 && suffix <= 5 && name[rest] == L'_' &&
                         AllDigits(name, rest + 1, suffix - 1) && name[rest + 1] != L'0');
}

bool IsTemporaryName(const std::wstring& name) {
  return name.rfind(L"~Dropleaf-", 0) == 0 && name.size() > 14 &&
         name.compare(name.size() - 4, 4, L".tmp") == 0;
}

}  // namespace

std::wstring FolderForTarget(const PasteTarget& target) {
  if (!target.fileNameBox) return ResolveFolderForWindow(target.window);
  const std::wstring folder = DialogFolder();
  if (folder.empty()) return {};
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return {};
  }
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  return folder;
}

bool IsOldDialogFile(const std::wstring& name, uint64_t ageSeconds) {
  return ageSeconds > kKeptSeconds && (IsScreenshotName(name) || IsTemporaryName(name));
}

void RemoveOldDialogFiles() {
  const std::wstring folder = DialogFolder();
  if (folder.empty()) return;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t nowUnits = uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
      continue;
    const uint64_t written =
        uint64_t(found.ftLastWriteTime.dwHighDateTime) << 32 | found.ftLastWriteTime.dwLowDateTime;
    const uint64_t age = nowUnits > written ? (nowUnits - written) / kFileTimeUnitsPerSecond : 0;
    if (IsOldDialogFile(found.cFileName, age)) {
      const std::wstring path = folder + found.cFileName;
      // Read-only would keep it from going (hidden does not).
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}
