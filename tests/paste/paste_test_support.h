#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Pixels as 0xAARRGGBB words, rows top to bottom.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};

// Colours varying in both directions, alpha cycling through 0, 0x80 and 0xFF; check_png.py
// computes the same colours.
Image PatternImage(int width, int height);
// The image with every alpha byte set to `alpha` (0: what GetDIBits reads back, 0xFF: a PNG).
Image WithAlpha(const Image& image, uint32_t alpha);

HBITMAP CreateDibSection(const Image& image);      // 32-bpp top-down, alpha bytes included
Image ReadBitmap(HBITMAP bitmap);                  // at 32 bpp, alpha cleared; empty on failure
Image DecodePngWithWic(const std::wstring& path);  // as 32bppBGRA; empty on failure

std::wstring BuildFolder();  // DROPLEAF_BUILD_DIR inside Wine, with a trailing backslash
std::wstring MakeCleanFolder(const std::wstring& name);  // under the build folder, emptied
// paste-locked (made immutable by the CTest fixture) when writes there really fail, else "".
std::wstring LockedFolder();
std::wstring KnownDesktop();
double NowMs();

HWND CreateTestWindow(const wchar_t* className, HWND parent = nullptr,
                      WNDPROC proc = DefWindowProcW);
inline HWND CreateMessageOnlyWindow() {
  return CreateTestWindow(L"Dropleaf.PasteTests.Owner", HWND_MESSAGE);
}

// Replace the clipboard's contents with one format, owned by `owner`.
bool PutDibOnClipboard(HWND owner, const Image& image, bool asV5);
bool PutTextOnClipboard(HWND owner, const wchar_t* text);
bool PutBitmapOnClipboard(HWND owner, HBITMAP bitmap);

bool FileExists(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const void* bytes, size_t size);
std::string ReadBytes(const std::wstring& path);
// The plain files in `folder` named `prefix`*`suffix`, sorted.
std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& prefix = L"",
                                  const std::wstring& suffix = L"");
