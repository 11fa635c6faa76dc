#pragma once

#include <windows.h>

#include <vector>

// The registered format in which many programs (Snipping Tool, Office, image editors) offer
// the image's own PNG file beside a DIB.
UINT PngClipboardFormat();

// Whether the clipboard holds an image for Ctrl+V in a folder window: "PNG", CF_DIBV5, CF_DIB or
// CF_BITMAP, and no file list (CF_HDROP, "Shell IDList Array", "FileGroupDescriptorW"), which
// is Explorer's to paste whatever image sits beside it. Asked without opening the clipboard.
bool ClipboardHoldsImage();
// Whether the clipboard holds text (CF_UNICODETEXT, CF_TEXT, CF_OEMTEXT), which a dialog's box
// pastes itself. Asked without opening the clipboard.
bool ClipboardHoldsText();

// The formats to read, best first, given the clipboard's formats in EnumClipboardFormats
// order: "PNG"; then the first DIB listed, which is the source's own (the system lists those it
// synthesizes after the program's); then CF_BITMAP only where it comes before every DIB, so the
// source placed it: one synthesized from a refused DIB would carry the same lying bytes.
std::vector<UINT> ImageFormatsToRead(const std::vector<UINT>& offered, UINT pngFormat);
