#include "paste/image_source.h"

#include "paste/dib_layout.h"

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

// Masks WIC's decoder does not read, drawn by GDI into 32-bit rows of our own; their sizes were
// checked at the capture, which is what makes them safe for GDI to read.
bool FromGdi(ClipboardImage& image, PngContent& content) {
  DibLayout layout;
  if (ReadDibLayout(image.bytes.data(), image.bytes.size(), layout) != DibVerdict::Readable) {
    return false;
  }
  BITMAPINFOHEADER drawn = {};
  drawn.biSize = sizeof(drawn);
  drawn.biWidth = LONG(layout.width);
  drawn.biHeight = -LONG(layout.height);  // top-down
  drawn.biPlanes = 1;
  drawn.biBitCount = 32;
  void* pixels = nullptr;
  ScopedGdiObject section(CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&drawn),
                                           DIB_RGB_COLORS, &pixels, nullptr, 0));
  const HDC dc = CreateCompatibleDC(nullptr);
  const bool drawnAll = section && dc &&
                        SetDIBits(dc, static_cast<HBITMAP>(section.Get()), 0, layout.height,
                                  image.bytes.data() + layout.pixelOffset,
                                  reinterpret_cast<const BITMAPINFO*>(image.bytes.data()),
                                  DIB_RGB_COLORS) == int(layout.height);
  if (dc) DeleteDC(dc);
  ComPtr<IWICBitmap> bitmap;
  if (!drawnAll ||
      FAILED(content.factory->CreateBitmapFromHBITMAP(static_cast<HBITMAP>(section.Get()), nullptr,
                                                      WICBitmapIgnoreAlpha, &bitmap))) {
    return false;
  }
  content.pixels = bitmap;
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
    case ClipboardImage::Kind::GdiDib:
      return factory && FromGdi(image, content);
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
