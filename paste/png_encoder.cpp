#include "paste/png_encoder.h"

#include <algorithm>

using Microsoft::WRL::ComPtr;

namespace {

constexpr uint64_t kLargestWrite = 1u << 30;  // IStream::Write counts in 32 bits

bool WriteAll(IStream* file, const std::vector<uint8_t>& bytes) {
  for (uint64_t at = 0; at < bytes.size();) {
    const ULONG part = ULONG(std::min<uint64_t>(bytes.size() - at, kLargestWrite));
    ULONG written = 0;
    if (FAILED(file->Write(bytes.data() + at, part, &written)) || written != part) return false;
    at += part;
  }
  return true;
}

bool Encode(const PngContent& content, IStream* file) {
  ComPtr<IWICBitmapEncoder> encoder;
  if (FAILED(content.factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder))) {
    return false;
  }
  if (FAILED(encoder->Initialize(file, WICBitmapEncoderNoCache))) return false;
  ComPtr<IWICBitmapFrameEncode> frame;
  ComPtr<IPropertyBag2> options;
  if (FAILED(encoder->CreateNewFrame(&frame, &options))) return false;
  if (FAILED(frame->Initialize(options.Get()))) return false;
  UINT width = 0;
  UINT height = 0;
  if (FAILED(content.pixels->GetSize(&width, &height))) return false;
  if (FAILED(frame->SetSize(width, height))) return false;
  // The encoder may substitute the nearest format it supports; WriteSource converts.
  WICPixelFormatGUID format = content.frameFormat;
  if (FAILED(frame->SetPixelFormat(&format))) return false;
  if (FAILED(frame->WriteSource(content.pixels.Get(), nullptr))) return false;
  if (FAILED(frame->Commit())) return false;
  return SUCCEEDED(encoder->Commit());
}

}  // namespace

bool WritePngContent(const PngContent& content, IStream* file) {
  if (!file) return false;
  if (!content.png.empty()) return WriteAll(file, content.png);
  return content.factory && content.pixels && Encode(content, file);
}
