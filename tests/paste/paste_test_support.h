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

// The test picture: colours that vary in both directions and alpha that cycles through
// transparent, half transparent and opaque. check_png.py computes the same values.
uint32_t PatternPixel(int x, int y);
Image PatternImage(int width, int height);

// A 32-bpp top-down DIB section holding the image, alpha bytes included.
HBITMAP CreateDibSection(const Image& image);

// The bitmap's pixels read back at 32 bpp, alpha bytes cleared; empty image on failure.
Image ReadBitmap(HBITMAP bitmap);

// The PNG decoded by WIC into 32bppBGRA; empty image on failure.
Image DecodePngWithWic(const std::wstring& path);

// Colour bytes only (alpha cleared): what a PNG without transparency keeps.
Image WithoutAlpha(const Image& image);

// The build folder (DROPLEAF_BUILD_DIR) as a path inside Wine, with a trailing backslash.
std::wstring BuildFolder();

// A fresh, empty folder under the build folder.
std::wstring MakeCleanFolder(const std::wstring& name);
void RemoveFolderFiles(const std::wstring& folder);

HWND CreateMessageOnlyWindow();
HWND CreateTopLevelWindow(const wchar_t* className);

// Replaces the clipboard's contents with one format, owned by `owner`.
bool PutDibOnClipboard(HWND owner, const Image& image, bool asV5);
bool PutTextOnClipboard(HWND owner, const wchar_t* text);
bool PutBitmapOnClipboard(HWND owner, HBITMAP bitmap);

bool FileExists(const std::wstring& path);
std::vector<std::wstring> FilesIn(const std::wstring& folder, const wchar_t* pattern);
