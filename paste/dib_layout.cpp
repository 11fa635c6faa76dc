#include "paste/dib_layout.h"

#include <algorithm>
#include <cstring>

namespace {

// BITMAPINFOHEADER, BITMAPV4HEADER and BITMAPV5HEADER sizes; fields by their offsets, since
// the bytes may lie and are read only where they are known to be.
constexpr uint32_t kInfoHeader = 40, kV4Header = 108, kV5Header = 124;
constexpr uint64_t kWidthAt = 4, kHeightAt = 8, kBitCountAt = 14, kCompressionAt = 16,
                   kColoursUsedAt = 32, kMasksAt = 40, kAlphaMaskAt = 52, kMaskBytes = 12;
constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kJpeg = 4, kPng = 5;
constexpr uint64_t kLargestWicBuffer = 0xFFFFFFFFu;

uint32_t U32At(const uint8_t* data, uint64_t offset) {
  uint32_t value;
  memcpy(&value, data + offset, sizeof(value));
  return value;
}

uint16_t U16At(const uint8_t* data, uint64_t offset) {
  uint16_t value;
  memcpy(&value, data + offset, sizeof(value));
  return value;
}

bool IsAcceptedBitCount(uint16_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Red, green and blue masks at kMasksAt, in the header or right after a 40-byte one.
bool MasksAre(const uint8_t* data, uint32_t red, uint32_t green, uint32_t blue) {
  return U32At(data, kMasksAt) == red && U32At(data, kMasksAt + 4) == green &&
         U32At(data, kMasksAt + 8) == blue;
}

DibLayout::Reader ReaderFor(const uint8_t* data, uint16_t bits, uint32_t compression) {
  using Reader = DibLayout::Reader;
  if (bits == 32) {
    return compression == kRgb || MasksAre(data, 0x00FF0000u, 0x0000FF00u, 0x000000FFu)
               ? Reader::BgraRows
               : Reader::Gdi;
  }
  if (bits == 16 && compression == kBitfields && !MasksAre(data, 0x7C00, 0x03E0, 0x001F) &&
      !MasksAre(data, 0xF800, 0x07E0, 0x001F)) {
    return Reader::Gdi;
  }
  return Reader::WicBmpDecoder;
}

}  // namespace

DibVerdict ReadDibLayout(const uint8_t* data, uint64_t size, DibLayout& layout) {
  layout = {};
  if (!data || size < kInfoHeader) return DibVerdict::Malformed;
  const uint32_t headerSize = U32At(data, 0);
  if (headerSize != kInfoHeader && headerSize != kV4Header && headerSize != kV5Header) {
    return DibVerdict::Malformed;
  }
  if (headerSize > size) return DibVerdict::Malformed;
  const uint32_t compression = U32At(data, kCompressionAt);
  if (compression == kRle8 || compression == kRle4 || compression == kJpeg || compression == kPng) {
    return DibVerdict::Compressed;
  }
  const int32_t width = int32_t(U32At(data, kWidthAt));
  const int32_t height = int32_t(U32At(data, kHeightAt));
  const uint16_t bits = U16At(data, kBitCountAt);
  if ((compression != kRgb && compression != kBitfields) || width <= 0 || height == 0 ||
      height == INT32_MIN || !IsAcceptedBitCount(bits) ||
      (compression == kBitfields && bits != 16 && bits != 32)) {
    return DibVerdict::Malformed;
  }

  // Masks after a 40-byte header; a V4 or V5 header holds its own.
  uint64_t offset = headerSize;
  if (compression == kBitfields && headerSize == kInfoHeader) offset += kMaskBytes;
  if (offset > size) return DibVerdict::Malformed;
  const uint64_t coloursUsed = U32At(data, kColoursUsedAt);
  if (bits <= 8 && coloursUsed > (1u << bits)) return DibVerdict::Malformed;
  const uint64_t colours = bits <= 8 && coloursUsed == 0 ? (1u << bits) : coloursUsed;
  offset += colours * 4;  // at most 2^34: no overflow
  if (offset > size) return DibVerdict::Malformed;

  const uint64_t rows = height < 0 ? uint64_t(-int64_t(height)) : uint64_t(height);
  const uint64_t stride = (uint64_t(width) * bits + 31) / 32 * 4;
  if (rows > (size - offset) / stride) return DibVerdict::Malformed;
  const uint64_t pixelBytes = stride * rows;
  if (uint64_t(width) * rows > kLargestWicBuffer / 4 ||
      BMP_FILE_HEADER_BYTES + offset + pixelBytes > kLargestWicBuffer) {
    return DibVerdict::Malformed;
  }

  layout.width = uint32_t(width);
  layout.height = uint32_t(rows);
  layout.topDown = height < 0;
  layout.pixelOffset = offset;
  layout.stride = stride;
  layout.pixelBytes = pixelBytes;
  layout.reader = ReaderFor(data, bits, compression);
  // BI_RGB with the masks filled in, as some programs write a V5 header, states alpha too.
  layout.alphaStated = headerSize >= kV4Header && U32At(data, kAlphaMaskAt) == 0xFF000000u;
  return DibVerdict::Readable;
}

AlphaMeaning ClassifyAlpha(const uint8_t* rows, uint64_t stride, uint32_t width, uint32_t height,
                           bool alphaStated) {
  if (!rows || width == 0 || height == 0) return AlphaMeaning::None;
  // Two passes, so that a screenshot's (all alpha the same) reads only the alpha bytes.
  bool uniform = true;
  for (uint32_t y = 0; y < height && uniform; ++y) {
    const uint8_t* p = rows + y * stride + 3;
    for (uint32_t x = 0; x < width; ++x) uniform &= p[4 * x] == rows[3];
  }
  if (uniform) return AlphaMeaning::None;
  for (uint32_t y = 0; y < height; ++y) {
    for (const uint8_t *p = rows + y * stride, *end = p + 4 * uint64_t(width); p < end; p += 4) {
      if (std::max({p[0], p[1], p[2]}) > p[3]) {
        return alphaStated ? AlphaMeaning::Straight : AlphaMeaning::None;
      }
    }
  }
  return AlphaMeaning::Premultiplied;
}
