#pragma once

#include <cstdint>

// How many of the bytes are one whole PNG file: the signature, IHDR first with a non-zero
// size, then chunks that each lie within the bytes and carry a correct CRC, up to and
// including IEND. 0 when they are not one (cut short, damaged, or not a PNG at all). What
// follows IEND is not counted: a clipboard block may be rounded up.
uint64_t WholePngLength(const uint8_t* data, uint64_t size);
