#include "paste/image_source.h"

using Microsoft::WRL::ComPtr;

namespace {

// The rows as they are. CreateBitmapFromMemory copies them, so the capture's copy goes at
// once: a large image is held twice only for that moment.
bool FromBgraRows(ClipboardImage& image, PngContent& content) {
  const DibLayout& layout = image.layout;
  const uint8_t* rows = image.bytes.data() + BMP_FILE_HEADER_BYTES + layout.pixelOffset;
  const AlphaMeaning alpha = ClassifyAlpha(rows, layout.stride, layout.width, layout.height);
  const WICPixelFormatGUID source = alpha == AlphaMeaning::None ? GUID_WICPixelFormat32bppBGR
                                    : alpha == AlphaMeaning::Straight
                                        ? GUID_WICPixelFormat32bppBGRA
                                        : GUID_WICPixelFormat32bppPBGRA;
  ComPtr<IWICBitmap> bitmap;
  if (FAILED(content.factory->CreateBitmapFromMemory(layout.width, layout.height, source,
                                                     UINT(layout.stride), UINT(layout.pixelBytes),
                                                     const_cast<BYTE*>(rows), &bitmap))) {
    return false;
  }
  std::vector<uint8_t>().swap(image.bytes);
  content.pixels = bitmap;
  if (!layout.topDown) {  // rows bottom-up, as most DIBs hold them
    ComPtr<IWICBitmapFlipRotator> flip;
    if (FAILED(content.factory->CreateBitmapFlipRotator(&flip)) ||
        FAILED(flip->Initialize(bitmap.Get(), WICBitmapTransformFlipVertical))) {
      return false;
    }
    content.pixels = flip;
  }
  // Premultiplied colours are written straight: WriteSource converts PBGRA to BGRA.
  content.frameFormat =
      alpha == AlphaMeaning::None ? GUID_WICPixelFormat32bppBGR : GUID_WICPixelFormat32bppBGRA;
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

bool PreparePngContent(ClipboardImage&& image, PngContent& content) {
  content = PngContent();
  if (image.kind == ClipboardImage::Kind::None) return false;
  if (image.kind == ClipboardImage::Kind::Png) {
    content.png = std::move(image.bytes);
    return true;
  }
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&content.factory)))) {
    return false;
  }
  if (image.kind == ClipboardImage::Kind::Dib) {
    return image.layout.bgra32 ? FromBgraRows(image, content) : FromBmpFile(image, content);
  }
  // A device-dependent bitmap carries no meaningful alpha.
  ComPtr<IWICBitmap> bitmap;
  if (FAILED(content.factory->CreateBitmapFromHBITMAP(static_cast<HBITMAP>(image.bitmap.Get()),
                                                      nullptr, WICBitmapIgnoreAlpha, &bitmap))) {
    return false;
  }
  content.pixels = bitmap;
  return true;
}
