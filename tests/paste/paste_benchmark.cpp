// Times the paste's own work on screenshot-sized images: capturing the clipboard, choosing
// the name and encoding the PNG. Prints one RESULT line per size for bench_reference.py.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "paste/clipboard_capture.h"
#include "paste/output_naming.h"
#include "paste/png_encoder.h"
#include "tests/paste/paste_test_support.h"

namespace {

uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return 0xFF000000u | (r << 16) | (g << 8) | b; }

void Fill(Image& image, int x0, int y0, int w, int h, uint32_t colour) {
  for (int y = y0; y < y0 + h && y < image.height; ++y) {
    for (int x = x0; x < x0 + w && x < image.width; ++x) {
      image.pixels[static_cast<size_t>(y) * image.width + x] = colour;
    }
  }
}

// Something like a desktop: a gradient wallpaper, windows with title bars, lines of
// text-like marks and one photo-like area of noise.
Image ScreenshotLike(int width, int height) {
  Image image{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.pixels[static_cast<size_t>(y) * width + x] =
          Rgb(20 + 60 * y / height, 60 + 80 * x / width, 140 + 60 * y / height);
    }
  }
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  int scale = width / 1920;
  for (int window = 0; window < 6; ++window) {
    int w = (500 + next() % 700) * scale, h = (300 + next() % 500) * scale;
    int x0 = next() % (width - w), y0 = next() % (height - h);
    Fill(image, x0, y0, w, h, Rgb(250, 250, 250));
    Fill(image, x0, y0, w, 30 * scale, Rgb(40, 90, 160));
    for (int line = y0 + 40 * scale; line + 12 * scale < y0 + h; line += 18 * scale) {
      int x = x0 + 10 * scale;
      while (x < x0 + w - 20 * scale) {
        int word = (3 + next() % 8) * 7 * scale;
        for (int c = 0; c < word && x + c < x0 + w; c += scale) {
          uint32_t bits = next();
          for (int r = 0; r < 12 * scale; r += scale) {
            if (bits & (1u << (r / scale)))
              Fill(image, x + c, line + r, scale, scale, Rgb(30, 30, 30));
          }
        }
        x += word + 7 * scale;
      }
    }
  }
  int px = width / 8, py = height / 2, pw = width / 5, ph = height / 4;
  for (int y = py; y < py + ph; ++y) {
    for (int x = px; x < px + pw; ++x) {
      uint32_t n = next() >> 24;
      image.pixels[static_cast<size_t>(y) * width + x] =
          Rgb((x - px) * 255 / pw, (n + y) & 0xFF, (y - py) * 255 / ph);
    }
  }
  return image;
}

int RunOne(HWND owner, const std::wstring& folder, int width, int height) {
  Image image = ScreenshotLike(width, height);
  HBITMAP source = CreateDibSection(image);
  if (!source || !PutBitmapOnClipboard(owner, source)) {
    fprintf(stderr, "could not put %dx%d on the clipboard\n", width, height);
    return 1;
  }
  double t0 = NowMs();
  HBITMAP copy = CaptureClipboardBitmap(owner);
  double t1 = NowMs();
  std::wstring path = ChooseOutputPath(folder);
  double t2 = NowMs();
  bool saved = copy && !path.empty() && EncodePngFile(copy, path);
  double t3 = NowMs();
  if (copy) DeleteObject(copy);
  if (!saved) {
    fprintf(stderr, "encoding %dx%d failed\n", width, height);
    return 1;
  }
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes);
  WriteBytes(
      folder + L"\\frame_" + std::to_wstring(width) + L"x" + std::to_wstring(height) + L".raw",
      image.pixels.data(), image.pixels.size() * 4);
  DeleteFileW(path.c_str());
  printf("RESULT %d %d capture_ms=%.1f naming_ms=%.2f encode_ms=%.1f png_bytes=%lu\n", width,
         height, t1 - t0, t2 - t1, t3 - t2, static_cast<unsigned long>(attributes.nFileSizeLow));
  fflush(stdout);
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) {
    fprintf(stderr, "usage: paste_benchmark <output folder>\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  std::wstring folder = argv[1];
  LocalFree(argv);
  CreateDirectoryW(folder.c_str(), nullptr);
  HWND owner = CreateMessageOnlyWindow();
  int failures = RunOne(owner, folder, 3840, 2160) + RunOne(owner, folder, 7680, 4320);
  DestroyWindow(owner);
  CoUninitialize();
  return failures;
}
