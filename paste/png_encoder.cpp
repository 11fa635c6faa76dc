#include "paste/png_encoder.h"

#include <shlwapi.h>
#include <wincodec.h>

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// The new file, created only when no entry of that name exists yet, so a file that
// another program made after the name was chosen is never overwritten.
HRESULT CreateNewFileStream(const std::wstring& path, ComPtr<IStream>& file) {
  return SHCreateStreamOnFileEx(path.c_str(), STGM_WRITE | STGM_SHARE_DENY_WRITE | STGM_FAILIFTHERE,
                                FILE_ATTRIBUTE_NORMAL, TRUE, nullptr, &file);
}

// Encodes the wrapped bitmap as a one-frame PNG into the stream, with the encoder's own
// defaults for everything the tool does not set.
bool WritePng(IWICImagingFactory* factory, IWICBitmap* source, IWICStream* stream) {
  ComPtr<IWICBitmapEncoder> encoder;
  if (FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder))) {
    return false;
  }
  if (FAILED(encoder->Initialize(stream, WICBitmapEncoderNoCache))) return false;
  ComPtr<IWICBitmapFrameEncode> frame;
  ComPtr<IPropertyBag2> options;
  if (FAILED(encoder->CreateNewFrame(&frame, &options))) return false;
  if (FAILED(frame->Initialize(options.Get()))) return false;
  UINT width = 0;
  UINT height = 0;
  if (FAILED(source->GetSize(&width, &height))) return false;
  if (FAILED(frame->SetSize(width, height))) return false;
  // The encoder may substitute the nearest format it supports; WriteSource converts.
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
  if (FAILED(frame->SetPixelFormat(&format))) return false;
  if (FAILED(frame->WriteSource(source, nullptr))) return false;
  if (FAILED(frame->Commit())) return false;
  return SUCCEEDED(encoder->Commit());
}

// Everything up to the file's creation; the file exists afterwards exactly when
// `created` is true.
bool EncodeIntoNewFile(HBITMAP bitmap, const std::wstring& path, bool& created) {
  ComPtr<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&factory)))) {
    return false;
  }
  // Screenshots carry no meaningful alpha; the PNG is written fully opaque.
  ComPtr<IWICBitmap> source;
  if (FAILED(factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, &source))) {
    return false;
  }
  ComPtr<IWICStream> stream;
  if (FAILED(factory->CreateStream(&stream))) return false;
  ComPtr<IStream> file;
  if (FAILED(CreateNewFileStream(path, file))) return false;
  created = true;
  if (FAILED(stream->InitializeFromIStream(file.Get()))) return false;
  return WritePng(factory.Get(), source.Get(), stream.Get());
}

}  // namespace

bool EncodePngFile(HBITMAP bitmap, const std::wstring& path) {
  if (!bitmap) return false;
  bool created = false;
  bool written = EncodeIntoNewFile(bitmap, path, created);
  // A file cut short would look like a saved screenshot; it is ours alone (just created),
  // so it goes once every stream on it has been released.
  if (!written && created) DeleteFileW(path.c_str());
  return written;
}
