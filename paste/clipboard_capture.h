#pragma once

#include <windows.h>
#include <wincodec.h>

#include <wrl/client.h>

#include <cstdint>
#include <vector>

#include "core/handles.h"

// The clipboard's image, copied out in the richest form the source gave.
struct ClipboardImage {
  enum class Kind { None, Png, Dib, GdiDib, Rows, Bitmap };
  Kind kind = Kind::None;
  // Png: the source's file up to its IEND. Dib: a BMP file, a file header of ours before the
  // source's header, masks, colour table and rows, and nothing after them. GdiDib: the source's
  // packed DIB alone, in a layout for GDI to draw.
  std::vector<uint8_t> bytes;
  // Rows: a 32-bit BGRA DIB's rows as they are, in a WIC bitmap whose pixel format says what
  // their alpha means (32bppBGR where it means nothing, BGRA straight, PBGRA premultiplied).
  Microsoft::WRL::ComPtr<IWICBitmap> rows;
  bool bottomUp = false;
  ScopedGdiObject bitmap;  // Bitmap: a DIB-section copy of the source's own CF_BITMAP
};

// Opens the clipboard (8 attempts, 10 ms apart), copies the image out and closes it again:
// nothing is decoded while it is open. The rows of a 32-bit DIB are copied once, straight into a
// bitmap of `factory`'s. Kind::None when there is no image that can be read, or no memory to
// copy it into.
ClipboardImage CaptureClipboardImage(HWND owner, IWICImagingFactory* factory);
