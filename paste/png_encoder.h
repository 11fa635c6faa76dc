#pragma once

#include <windows.h>
#include <wincodec.h>

#include <wrl/client.h>

#include <cstdint>
#include <vector>

// What a paste writes: the source's own PNG file as it came, or pixels for WIC to encode.
struct PngContent {
  std::vector<uint8_t> png;    // written as they are, when not empty
  std::vector<uint8_t> bytes;  // what `pixels` reads from, kept while it lives
  Microsoft::WRL::ComPtr<IWICImagingFactory> factory;
  Microsoft::WRL::ComPtr<IWICBitmapSource> pixels;
  // The frame's format: opaque (32bppBGR), or with straight alpha (32bppBGRA).
  WICPixelFormatGUID frameFormat = GUID_WICPixelFormat32bppBGR;
};

// Writes the content into the stream: the PNG bytes, or a one-frame PNG that WIC encodes with
// its own defaults for everything the tool does not set. False on any failure.
bool WritePngContent(const PngContent& content, IStream* file);
