#include "paste/png_check.h"

#include <array>
#include <cstring>

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint64_t kChunkFrame = 12;            // length, type, CRC
constexpr uint32_t kLargestChunk = 0x7FFFFFFF;  // the PNG format's own limit

uint32_t BigEndianAt(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The CRC-32 that PNG chunks carry (ISO 3309), over the chunk's type and data.
uint32_t ChunkCrc(const uint8_t* p, uint64_t length) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (uint64_t i = 0; i < length; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace

uint64_t WholePngLength(const uint8_t* data, uint64_t size) {
  if (!data || size < sizeof(kSignature) || memcmp(data, kSignature, sizeof(kSignature)) != 0) {
    return 0;
  }
  for (uint64_t at = sizeof(kSignature);;) {
    if (size - at < kChunkFrame) return 0;
    const uint32_t length = BigEndianAt(data + at);
    if (length > kLargestChunk || size - at - kChunkFrame < length) return 0;
    const uint8_t* type = data + at + 4;
    if (ChunkCrc(type, 4 + uint64_t(length)) != BigEndianAt(type + 4 + length)) return 0;
    const bool first = at == sizeof(kSignature);
    if (first && (memcmp(type, "IHDR", 4) != 0 || length != 13 || BigEndianAt(type + 4) == 0 ||
                  BigEndianAt(type + 8) == 0)) {
      return 0;
    }
    at += kChunkFrame + length;
    if (memcmp(type, "IEND", 4) == 0) return first ? 0 : at;
  }
}
