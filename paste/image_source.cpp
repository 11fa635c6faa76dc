#include "paste/image_source.h"

using Microsoft::WRL::ComPtr;

namespace {

bool FromRows(ClipboardImage& image, PngContent& content) {
  content.pixels = image.rows;
  if (image.bottomUp) {  // as most DIBs hold them
    ComPtr<IWICBitmapFlipRotator> flip;
    if (FAILED(content.factory->CreateBitmapFlipRotator(&flip)) ||
        FAILED(flip->Initialize(image.rows.Get(), WICBitmapTransformFlipVertical))) {
      return false;
    }
    content.pixels = flip;
  }
  // Premultiplied colours are written straight: WriteSource converts PBGRA to BGRA.
  WICPixelFormatGUID format = GUID_WICPixelFormatUndefined;
  image.rows->GetPixelFormat(&format);
  if (format != GUID_WICPixelFormat32bppBGR) content.frameFormat = GUID_WICPixelFormat32bppBGRA;
  return true;
}

// Every other layout (1 to 24 bits, other masks) as the BMP file it became at the capture.
bool FromBmpFile(ClipboardImage& image, PngContent& content) {
  content.bytes = std::move(image.bytes);
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  WICPixelFormatGUID format = GUID_WICPixelFormatUndefined;
  if (FAILED(content.factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(content.bytes.data(), DWORD(content.bytes.size()))) ||
      FAILED(content.factory->CreateDecoder(GUID_ContainerFormatBmp, nullptr, &decoder)) ||
      FAILED(decoder->Initialize(stream.Get(), WICDecodeMetadataCacheOnDemand)) ||
      FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetPixelFormat(&format)) ||
      format == GUID_WICPixelFormatUndefined) {  // masks the decoder does not know
    return false;
  }
  content.pixels = frame;
  return true;
}

}  // namespace

ComPtr<IWICImagingFactory> CreateImagingFactory() {
  ComPtr<IWICImagingFactory> factory;
  CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
  return factory;
}

bool PreparePngContent(ClipboardImage&& image, IWICImagingFactory* factory, PngContent& content) {
  content = PngContent();
  content.factory = factory;
  switch (image.kind) {
    case ClipboardImage::Kind::Png:
      content.png = std::move(image.bytes);
      return true;
    case ClipboardImage::Kind::Rows:
      return factory && FromRows(image, content);
    case ClipboardImage::Kind::Dib:
      return factory && FromBmpFile(image, content);
    case ClipboardImage::Kind::Bitmap: {  // a device-dependent bitmap: no meaningful alpha
      ComPtr<IWICBitmap> bitmap;
      if (!factory ||
          FAILED(factory->CreateBitmapFromHBITMAP(static_cast<HBITMAP>(image.bitmap.Get()), nullptr,
                                                  WICBitmapIgnoreAlpha, &bitmap))) {
        return false;
      }
      content.pixels = bitmap;
      return true;
    }
    default:
      return false;
  }
}
