#include "paste/clipboard_capture.h"

#include <cstring>
#include <new>

#include "paste/clipboard_formats.h"
#include "paste/dib_layout.h"
#include "paste/png_check.h"

namespace {

constexpr int kOpenAttempts = 8;
constexpr DWORD kRetryPauseMs = 10;

// Another program may hold the clipboard for a moment; try a few times before giving up.
bool OpenClipboardWithRetry(HWND owner) {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (OpenClipboard(owner)) return true;
    Sleep(kRetryPauseMs);
  }
  return false;
}

// A global block's bytes while it is locked. Its size is GlobalSize's, which Windows may have
// rounded up: what lies beyond the data is never trusted to mean anything.
class LockedBlock {
 public:
  explicit LockedBlock(HANDLE block)
      : block_(block),
        data_(block ? static_cast<const uint8_t*>(GlobalLock(block)) : nullptr),
        size_(data_ ? GlobalSize(block) : 0) {}
  ~LockedBlock() {
    if (data_) GlobalUnlock(block_);
  }
  LockedBlock(const LockedBlock&) = delete;
  LockedBlock& operator=(const LockedBlock&) = delete;
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }

 private:
  HANDLE block_;
  const uint8_t* data_;
  uint64_t size_;
};

bool CopyPng(UINT format, ClipboardImage& image) {
  const LockedBlock block(GetClipboardData(format));
  const uint64_t length = WholePngLength(block.data(), block.size());
  if (length == 0) return false;
  image.bytes.assign(block.data(), block.data() + length);
  image.kind = ClipboardImage::Kind::Png;
  return true;
}

// Rows of 32-bit BGRA: their alpha read where they lie, then one copy into the WIC bitmap.
bool CopyRows(const uint8_t* dib, const DibLayout& layout, IWICImagingFactory* factory,
              ClipboardImage& image) {
  const uint8_t* rows = dib + layout.pixelOffset;
  const AlphaMeaning alpha =
      ClassifyAlpha(rows, layout.stride, layout.width, layout.height, layout.alphaStated);
  const WICPixelFormatGUID format = alpha == AlphaMeaning::None ? GUID_WICPixelFormat32bppBGR
                                    : alpha == AlphaMeaning::Straight
                                        ? GUID_WICPixelFormat32bppBGRA
                                        : GUID_WICPixelFormat32bppPBGRA;
  if (!factory || FAILED(factory->CreateBitmapFromMemory(
                      layout.width, layout.height, format, UINT(layout.stride),
                      UINT(layout.pixelBytes), const_cast<BYTE*>(rows), &image.rows))) {
    return false;
  }
  image.bottomUp = !layout.topDown;
  image.kind = ClipboardImage::Kind::Rows;
  return true;
}

// Any other layout behind a BMP file header, so that WIC's BMP decoder reads it as a file, or
// as it is where GDI draws it.
bool CopyDib(UINT format, IWICImagingFactory* factory, ClipboardImage& image) {
  const LockedBlock block(GetClipboardData(format));
  DibLayout layout;
  if (ReadDibLayout(block.data(), block.size(), layout) != DibVerdict::Readable) return false;
  if (layout.reader == DibLayout::Reader::BgraRows) {
    return CopyRows(block.data(), layout, factory, image);
  }
  const uint64_t dibBytes = layout.pixelOffset + layout.pixelBytes;
  if (layout.reader == DibLayout::Reader::Gdi) {
    image.bytes.assign(block.data(), block.data() + dibBytes);
    image.kind = ClipboardImage::Kind::GdiDib;
    return true;
  }
  // Both fit 32 bits: the layout's check. Windows is little-endian, as the file header is.
  const uint32_t fileSize = uint32_t(BMP_FILE_HEADER_BYTES + dibBytes);
  const uint32_t pixelsAt = uint32_t(BMP_FILE_HEADER_BYTES + layout.pixelOffset);
  uint8_t header[BMP_FILE_HEADER_BYTES] = {'B', 'M'};
  memcpy(header + 2, &fileSize, 4);
  memcpy(header + 10, &pixelsAt, 4);
  image.bytes.reserve(fileSize);
  image.bytes.assign(header, header + BMP_FILE_HEADER_BYTES);
  image.bytes.insert(image.bytes.end(), block.data(), block.data() + dibBytes);
  image.kind = ClipboardImage::Kind::Dib;
  return true;
}

// A device-dependent bitmap that the source placed itself (an older program).
bool CopyBitmap(ClipboardImage& image) {
  HANDLE shared = GetClipboardData(CF_BITMAP);  // the clipboard's: neither kept nor freed
  if (!shared) return false;
  image.bitmap.Reset(CopyImage(shared, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!image.bitmap) return false;
  image.kind = ClipboardImage::Kind::Bitmap;
  return true;
}

bool CopyFormat(UINT format, IWICImagingFactory* factory, ClipboardImage& image) {
  if (format == CF_BITMAP) return CopyBitmap(image);
  if (format == CF_DIB || format == CF_DIBV5) return CopyDib(format, factory, image);
  return CopyPng(format, image);
}

}  // namespace

ClipboardImage CaptureClipboardImage(HWND owner, IWICImagingFactory* factory) {
  ClipboardImage image;
  if (!OpenClipboardWithRetry(owner)) return image;
  try {
    std::vector<UINT> offered;
    for (UINT format = 0; (format = EnumClipboardFormats(format)) != 0;) offered.push_back(format);
    // A format that is not whole, or that lies about its size, gives way to the next one.
    for (UINT format : ImageFormatsToRead(offered, PngClipboardFormat())) {
      if (CopyFormat(format, factory, image)) break;
      image = ClipboardImage();
    }
  } catch (const std::bad_alloc&) {  // an image larger than the memory left: no image
    image = ClipboardImage();
  }
  CloseClipboard();
  return image;
}
