#include "paste/png_encoder.h"

bool EncodePngFile(HBITMAP, const std::wstring&) { return false; }
