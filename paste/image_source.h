#pragma once

#include "paste/clipboard_capture.h"
#include "paste/png_encoder.h"

// WIC's imaging factory, null where it cannot be had.
Microsoft::WRL::ComPtr<IWICImagingFactory> CreateImagingFactory();

// Turns what was copied off the clipboard into what the file will hold, with WIC doing every
// decoding and conversion: "PNG" as it came; a 32-bit BGRA DIB's rows as they are, with their
// alpha as the source meant it (none, straight, or premultiplied and written straight); every
// other DIB through WIC's BMP decoder where it reads the layout, else as GDI draws it, opaque; a
// bitmap of the source's own, opaque. False when there is nothing WIC can read.
bool PreparePngContent(ClipboardImage&& image, IWICImagingFactory* factory, PngContent& content);
