#pragma once

#include <cstdint>

// A BMP file's header before a packed DIB, as WIC's BMP decoder reads it.
constexpr uint64_t BMP_FILE_HEADER_BYTES = 14;

// Where the parts of a packed DIB (CF_DIB, CF_DIBV5) lie, as far as its own bytes bear it out.
struct DibLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  bool topDown = false;
  uint64_t pixelOffset = 0;  // from the header's start: header, masks and colour table before
  uint64_t stride = 0;       // bytes per row, a multiple of 4
  uint64_t pixelBytes = 0;   // stride × height
  // 32 bits a pixel with blue, green and red in its first three bytes: the fourth may be alpha.
  bool bgra32 = false;
};

// Readable: every part lies within the bytes. Compressed: RLE, JPEG or PNG inside the DIB, left
// to another clipboard format. Malformed: a header that lies or that no Windows program writes.
enum class DibVerdict { Readable, Compressed, Malformed };

// Accepts BITMAPINFOHEADER, BITMAPV4HEADER and BITMAPV5HEADER; BI_RGB at 1, 4, 8, 16, 24 and
// 32 bits, BI_BITFIELDS at 16 and 32 (masks after a 40-byte header, or inside a V4 or V5 one);
// rows top-down or bottom-up. Every size is checked against `size` in 64 bits before it is
// used, and the decoded image must fit the 32-bit sizes that WIC's calls take.
DibVerdict ReadDibLayout(const uint8_t* data, uint64_t size, DibLayout& layout);

// What the fourth byte of 32-bit BGRA rows means. None: the same everywhere (screenshots carry
// all 0), so the image is opaque. Premultiplied: every colour value is at most its alpha, as
// browsers give. Straight otherwise.
enum class AlphaMeaning { None, Straight, Premultiplied };
AlphaMeaning ClassifyAlpha(const uint8_t* rows, uint64_t stride, uint32_t width, uint32_t height);
