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
  // Who turns the rows into pixels. BgraRows: 32 bits with blue, green and red in the first three
  // bytes, taken as they lie. WicBmpDecoder: a layout that Microsoft's BMP Format Overview says
  // WIC's decoder reads (1 to 8 bits with colours, 16 bits 5-5-5 or 5-6-5, 24 bits). Gdi: masks
  // the decoder does not read (32 bits in another order, 16 bits other than those two), which
  // GDI draws all the same.
  enum class Reader { BgraRows, WicBmpDecoder, Gdi };
  Reader reader = Reader::WicBmpDecoder;
  // A V4 or V5 header whose alpha mask is 0xFF000000: the fourth byte is alpha by the format.
  bool alphaStated = false;
};

// Readable: every part lies within the bytes. Compressed: RLE, JPEG or PNG inside the DIB, left
// to another clipboard format. Malformed: a header that lies or that no Windows program writes.
enum class DibVerdict { Readable, Compressed, Malformed };

// Accepts BITMAPINFOHEADER, BITMAPV4HEADER and BITMAPV5HEADER; BI_RGB at 1, 4, 8, 16, 24 and
// 32 bits, BI_BITFIELDS at 16 and 32 (masks after a 40-byte header, or inside a V4 or V5 one);
// rows top-down or bottom-up. Every size is checked against `size` in 64 bits before it is
// used, and the decoded image must fit the 32-bit sizes that WIC's calls take.
DibVerdict ReadDibLayout(const uint8_t* data, uint64_t size, DibLayout& layout);

// What the fourth byte of 32-bit BGRA rows means. None: the image is opaque, since the byte is
// the same everywhere (screenshots carry all 0), or the format does not call it alpha
// (`alphaStated` false: BITMAPINFOHEADER says it "is not used", a DIB made from a screen's
// bitmap holds whatever the surface held) and it is not premultiplied either. Premultiplied:
// the byte varies and every colour value is at most it (alpha 0 has colour 0), as browsers give
// even behind a 40-byte header. Straight: stated alpha that is not premultiplied.
enum class AlphaMeaning { None, Straight, Premultiplied };
AlphaMeaning ClassifyAlpha(const uint8_t* rows, uint64_t stride, uint32_t width, uint32_t height,
                           bool alphaStated);
