#include "paste/output_naming.h"

#include <strsafe.h>

namespace {

constexpr int kLastSuffix = 9999;

std::wstring BaseName(const SYSTEMTIME& t) {
  wchar_t buffer[128] = {};
  StringCchPrintfW(buffer, 128, L"Screenshot_%04u%02u%02u_%02u%02u%02u",
                   static_cast<unsigned>(t.wYear), static_cast<unsigned>(t.wMonth),
                   static_cast<unsigned>(t.wDay), static_cast<unsigned>(t.wHour),
                   static_cast<unsigned>(t.wMinute), static_cast<unsigned>(t.wSecond));
  return buffer;
}

// Any entry of that name, file or directory, takes it; a failed query counts as free.
bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

std::wstring ChooseOutputPathAt(const std::wstring& folder, const SYSTEMTIME& localTime,
                                const std::function<bool(const std::wstring&)>& exists) {
  std::wstring stem = folder;
  if (!stem.empty() && stem.back() != L'\\') stem += L'\\';
  stem += BaseName(localTime);

  std::wstring candidate = stem + L".png";
  if (!exists(candidate)) return candidate;
  for (int n = 2; n <= kLastSuffix; ++n) {
    candidate = stem + L"_" + std::to_wstring(n) + L".png";
    if (!exists(candidate)) return candidate;
  }
  return {};
}

std::wstring ChooseOutputPath(const std::wstring& folder) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return ChooseOutputPathAt(folder, now, PathExists);
}
