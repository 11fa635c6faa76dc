#include "paste/clipboard_formats.h"

#include <shlobj.h>

#include <algorithm>

UINT PngClipboardFormat() {
  static const UINT format = RegisterClipboardFormatW(L"PNG");
  return format;
}

bool ClipboardHoldsImage() {
  static const UINT fileLists[] = {CF_HDROP, RegisterClipboardFormatW(CFSTR_SHELLIDLIST),
                                   RegisterClipboardFormatW(CFSTR_FILEDESCRIPTORW)};
  for (UINT format : fileLists) {
    if (format && IsClipboardFormatAvailable(format)) return false;
  }
  for (UINT format : {PngClipboardFormat(), UINT(CF_DIBV5), UINT(CF_DIB), UINT(CF_BITMAP)}) {
    if (format && IsClipboardFormatAvailable(format)) return true;
  }
  return false;
}

bool ClipboardHoldsText() {
  for (UINT format : {CF_UNICODETEXT, CF_TEXT, CF_OEMTEXT}) {
    if (IsClipboardFormatAvailable(format)) return true;
  }
  return false;
}

std::vector<UINT> ImageFormatsToRead(const std::vector<UINT>& offered, UINT pngFormat) {
  std::vector<UINT> formats;
  auto listed = [&](UINT format) { return std::find(offered.begin(), offered.end(), format); };
  if (pngFormat && listed(pngFormat) != offered.end()) formats.push_back(pngFormat);
  const auto dib = std::find_if(offered.begin(), offered.end(),
                                [](UINT format) { return format == CF_DIB || format == CF_DIBV5; });
  if (dib != offered.end()) formats.push_back(*dib);
  if (listed(CF_BITMAP) < dib) formats.push_back(CF_BITMAP);
  return formats;
}
