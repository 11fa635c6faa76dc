#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "core/handles.h"
#include "paste/dib_layout.h"

// The clipboard's image, copied out in the richest form the source gave.
struct ClipboardImage {
  enum class Kind { None, Png, Dib, Bitmap };
  Kind kind = Kind::None;
  // Png: the source's file up to its IEND. Dib: a BMP file, a file header of ours before the
  // source's header, masks, colour table and rows, and nothing after them.
  std::vector<uint8_t> bytes;
  DibLayout layout;        // Dib
  ScopedGdiObject bitmap;  // Bitmap: a DIB-section copy of the source's own CF_BITMAP
};

constexpr uint64_t BMP_FILE_HEADER_BYTES = 14;

// Opens the clipboard (8 attempts, 10 ms apart), copies the image out and closes it again:
// nothing is decoded while it is open. Kind::None when there is no image that can be read.
ClipboardImage CaptureClipboardImage(HWND owner);
