// Times the paste's own work on screenshot-sized images, from the clipboard to a finished file,
// for each kind of source (a 32-bit DIB, a 24-bit one, the source's own "PNG"), against WIC's
// encode of the same pixels alone, with the memory each paste takes (one RESULT line per size
// for bench_reference.py); then the delay of keys typed into another window while the real
// Dropleaf.exe pastes 7680x4320.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "app/hidden_window.h"
#include "paste/clipboard_capture.h"
#include "paste/image_source.h"
#include "paste/output_file.h"
#include "paste/png_encoder.h"
#include "tests/support/test_support.h"

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

double PreciseMs() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * counter.QuadPart / frequency.QuadPart;
}

// The pixels as a bottom-up DIB of 24 bits, which WIC's BMP decoder reads.
std::string Dib24(const Image& image) {
  const uint64_t stride = (uint64_t(image.width) * 3 + 3) / 4 * 4;
  const BITMAPINFOHEADER header = {sizeof(header), image.width, image.height, 1, 24};
  std::string dib(reinterpret_cast<const char*>(&header), sizeof(header));
  dib.resize(sizeof(header) + stride * image.height);
  for (int y = 0; y < image.height; ++y) {
    char* row = &dib[sizeof(header) + stride * (image.height - 1 - y)];
    for (int x = 0; x < image.width; ++x)
      memcpy(row + 3 * x, &image.pixels[y * image.width + x], 3);
  }
  return dib;
}

// The process's working set at its highest above where it stood when sampling began, sampled
// every millisecond on a thread of its own.
class PeakMemory {
 public:
  PeakMemory()
      : base_(WorkingSet()), peak_(base_), sampler_([this] {
          while (sampling_) peak_ = std::max(peak_.load(), WorkingSet()), Sleep(1);
        }) {}
  double StopMb() {
    sampling_ = false;
    sampler_.join();
    return (peak_ - base_) / 1048576.0;
  }

 private:
  static SIZE_T WorkingSet() {  // not private bytes: Wine reads PrivateUsage as 0
    PROCESS_MEMORY_COUNTERS counters = {sizeof(counters)};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.WorkingSetSize;
  }
  std::atomic<bool> sampling_{true};
  const SIZE_T base_;
  std::atomic<SIZE_T> peak_;
  std::thread sampler_;
};

struct PasteRun {
  double fetchMs = 0, captureMs = 0, totalMs = 0, peakMb = 0;
  std::wstring path;
};

// One paste's own work, from the clipboard to a finished file, as PasteIntoTarget does it. The
// clipboard's data is fetched once before, timed (under Wine the capture fetches it again, as
// long) and so that its own copy is not counted in the memory.
PasteRun PasteFromClipboard(HWND owner, const std::wstring& folder) {
  PasteRun run;
  OpenClipboard(owner);
  const double fetch = PreciseMs();
  GetClipboardData(EnumClipboardFormats(0));  // the source's own, which the paste reads
  run.fetchMs = PreciseMs() - fetch;
  CloseClipboard();
  PeakMemory memory;
  const double start = PreciseMs();
  {
    const Microsoft::WRL::ComPtr<IWICImagingFactory> factory = CreateImagingFactory();
    ClipboardImage image = CaptureClipboardImage(owner, factory.Get());
    run.captureMs = PreciseMs() - start;
    PngContent content;
    if (PreparePngContent(std::move(image), factory.Get(), content)) {
      run.path =
          SaveAsNewFile(folder, [&](IStream* file) { return WritePngContent(content, file); });
    }
  }
  run.totalMs = PreciseMs() - start;
  run.peakMb = memory.StopMb();
  return run;
}

// WIC's encode of the same pixels from memory into a file: what a paste cannot do better than.
double EncodeAloneMs(const Image& image, const std::wstring& path, DWORD& pngBytes) {
  PngContent content;
  Microsoft::WRL::ComPtr<IWICBitmap> bitmap;
  Microsoft::WRL::ComPtr<IStream> file;
  content.factory = CreateImagingFactory();
  content.factory->CreateBitmapFromMemory(image.width, image.height, GUID_WICPixelFormat32bppBGR,
                                          image.width * 4, UINT(image.pixels.size() * 4),
                                          (BYTE*)image.pixels.data(), &bitmap);
  content.pixels = bitmap;
  SHCreateStreamOnFileEx(path.c_str(), STGM_CREATE | STGM_WRITE, 0, TRUE, nullptr, &file);
  const double start = PreciseMs();
  const bool written = WritePngContent(content, file.Get());
  const double ms = PreciseMs() - start;
  file.Reset();
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes);
  pngBytes = attributes.nFileSizeLow;
  return written ? ms : -1;
}

// Each figure is the best of three rounds, each round running everything once: zlib's time on
// this machine varies by a fifth or more from one minute to the next.
int RunOne(HWND owner, const std::wstring& folder, int width, int height) {
  constexpr int kRounds = 3, kSources = 3;
  const Image image = ScreenshotLike(width, height);
  const double pixelMb = image.pixels.size() * 4 / 1048576.0;
  const std::wstring alone = folder + L"\\encode-alone.png";
  DWORD pngBytes = 0;
  EncodeAloneMs(image, alone, pngBytes);
  const std::string png = ReadBytes(alone);
  const ClipboardFormats sources[kSources] = {{{CF_DIB, DibBytes(image)}},
                                              {{CF_DIB, Dib24(image)}},
                                              {{RegisterClipboardFormatW(L"PNG"), png}}};
  const char* names[kSources] = {"32-bit DIB (rows as they are)", "24-bit DIB (WIC's BMP decoder)",
                                 "\"PNG\" (written as it came)"};
  double encodeMs = 1e9;
  PasteRun best[kSources];
  int failures = 0;
  for (int round = 0; round < kRounds; ++round) {
    encodeMs = std::min(encodeMs, EncodeAloneMs(image, alone, pngBytes));
    for (int i = 0; i < kSources; ++i) {
      PutFormatsOnClipboard(sources[i]);
      const PasteRun run = PasteFromClipboard(owner, folder);
      failures += run.path.empty();
      DeleteFileW(run.path.c_str());
      const double peakMb = std::max(best[i].peakMb, run.peakMb);
      if (round == 0 || run.totalMs < best[i].totalMs) best[i] = run;
      best[i].peakMb = peakMb;
    }
  }
  DeleteFileW(alone.c_str());
  printf("%dx%d: WIC encode alone %.1f ms, %lu bytes; the pixels are %.1f MB\n", width, height,
         encodeMs, static_cast<unsigned long>(pngBytes), pixelMb);
  for (int i = 0; i < kSources; ++i) {
    const PasteRun& run = best[i];
    printf(
        "%dx%d %s: capture %.1f ms (Wine's transfer of the clipboard's data alone %.1f ms), paste "
        "total %.1f ms = %.2fx the encode alone (%.2fx without the transfer)",
        width, height, names[i], run.captureMs, run.fetchMs, run.totalMs, run.totalMs / encodeMs,
        (run.totalMs - run.fetchMs) / encodeMs);
    if (i == 2) printf(", the 32-bit DIB paste %.0fx as long", best[0].totalMs / run.totalMs);
    printf("; peak memory +%.1f MB = %.2fx the pixels\n", run.peakMb, run.peakMb / pixelMb);
  }
  HANDLE raw = CreateFileW(
      (folder + L"\\frame_" + std::to_wstring(width) + L"x" + std::to_wstring(height) + L".raw")
          .c_str(),
      GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(raw, image.pixels.data(), DWORD(image.pixels.size() * 4), &written, nullptr);
  CloseHandle(raw);
  printf("RESULT %d %d encode_ms=%.1f png_bytes=%lu\n", width, height, encodeMs,
         static_cast<unsigned long>(pngBytes));
  fflush(stdout);
  return failures;
}

// Keys typed into a window of this process, each one's delay from SendInput to its
// WM_KEYDOWN. A probe thread meanwhile makes trivial server calls: under Wine the server
// itself stalls while a huge image crosses the clipboard, which delays every key on the
// desktop whatever the reading program does; each key's delay beyond those stalls is the
// program's own share.
struct KeyDelays {
  std::vector<double> raw, beyondStalls;
};

KeyDelays TypeKeys(HWND target, double forMs, const std::function<void()>& start) {
  std::vector<std::pair<double, double>> stalls;  // [begin, end] of calls over 5 ms
  std::atomic<bool> probing{true};
  std::thread probe([&] {
    while (probing) {
      double before = PreciseMs();
      GetWindowLongW(GetDesktopWindow(),
                     GWL_STYLE);  // another process's window: the server answers
      double after = PreciseMs();
      if (after - before > 5) stalls.push_back({before, after});
      Sleep(1);
    }
  });
  std::vector<double> sent, arrived;
  auto* arrivals = &arrived;
  SetWindowLongPtrW(target, GWLP_USERDATA, LONG_PTR(arrivals));
  start();
  SetForegroundWindow(target);
  PumpMessagesFor(100);
  for (double end = PreciseMs() + forMs; PreciseMs() < end;) {
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = 'A';
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    sent.push_back(PreciseMs());
    SendInput(2, keys, sizeof(INPUT));
    WaitUntil([&] { return arrived.size() == sent.size(); }, 10000);
    PumpMessagesFor(100);
  }
  probing = false;
  probe.join();
  KeyDelays delays;
  for (size_t i = 0; i < std::min(sent.size(), arrived.size()); ++i) {
    double stalled = 0;
    for (auto [begin, end] : stalls)
      stalled += std::max(0.0, std::min(end, arrived[i]) - std::max(begin, sent[i]));
    delays.raw.push_back(arrived[i] - sent[i]);
    delays.beyondStalls.push_back(std::max(0.0, arrived[i] - sent[i] - stalled));
  }
  return delays;
}

void PrintDelays(const char* what, std::vector<double> delays) {
  if (delays.empty()) return;
  std::sort(delays.begin(), delays.end());
  printf("%s: %zu keys, median %.1f ms, max %.1f ms\n", what, delays.size(),
         delays[delays.size() / 2], delays.back());
}

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* arrived = reinterpret_cast<std::vector<double>*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (arrived && message == WM_KEYDOWN && wParam == 'A') arrived->push_back(PreciseMs());
  return DefWindowProcW(window, message, wParam, lParam);
}

int MeasureTypingDuringPaste(const std::wstring& dropleaf) {
  std::wstring command = L"\"" + dropleaf + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(dropleaf.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    fprintf(stderr, "could not start Dropleaf.exe\n");
    return 1;
  }
  HWND hidden = nullptr;
  WaitUntil(
      [&] { return (hidden = FindWindowExW(HWND_MESSAGE, nullptr, HIDDEN_WINDOW_CLASS, nullptr)); },
      15000);
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = TargetProc;
  windowClass.lpszClassName = L"Dropleaf.Bench.Typing";
  RegisterClassW(&windowClass);
  HWND target =
      CreateWindowExW(0, windowClass.lpszClassName, L"typing", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                      100, 100, 300, 200, nullptr, nullptr, nullptr, nullptr);
  PutOnClipboard(ScreenshotLike(7680, 4320));
  PumpMessagesFor(1000);
  KeyDelays idle = TypeKeys(target, 3000, [] {});
  const std::wstring desktop = KnownDesktop();
  const size_t before = FilesIn(desktop, L"Screenshot_").size();
  // The desktop's class, so that builds without the desktop window's own class compare.
  TestWindow desktopWindow(L"Progman");
  FILETIME pressed = {};
  KeyDelays busy = TypeKeys(target, 8000, [&] {
    GetSystemTimeAsFileTime(&pressed);
    SetForegroundWindow(desktopWindow.Get());
    PumpMessagesFor(200);
    SendCtrlV();
  });
  const std::vector<std::wstring> after = FilesIn(desktop, L"Screenshot_");
  WIN32_FILE_ATTRIBUTE_DATA file = {};
  if (after.size() > before) {
    GetFileAttributesExW((desktop + after.back()).c_str(), GetFileExInfoStandard, &file);
    auto since = [&](FILETIME t) {
      return (ULARGE_INTEGER{{t.dwLowDateTime, t.dwHighDateTime}}.QuadPart -
              ULARGE_INTEGER{{pressed.dwLowDateTime, pressed.dwHighDateTime}}.QuadPart) /
             10000.0;
    };
    printf("the PNG was created %.0f ms and last written %.0f ms after Ctrl+V\n",
           since(file.ftCreationTime), since(file.ftLastWriteTime));
  }
  if (after.size() > before) DeleteFileW((desktop + after.back()).c_str());
  printf("the paste %s\n", after.size() > before ? "saved its PNG" : "saved NOTHING");
  PrintDelays("idle, raw", idle.raw);
  PrintDelays("idle, beyond the server's stalls", idle.beyondStalls);
  PrintDelays("during the 7680x4320 paste, raw", busy.raw);
  PrintDelays("during the 7680x4320 paste, beyond the server's stalls", busy.beyondStalls);
  PostMessageW(hidden, WM_COMMAND, IDM_EXIT, 0);
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  DestroyWindow(target);
  return after.size() > before ? 0 : 1;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) {
    fprintf(stderr, "usage: paste_benchmark <output folder>  (DROPLEAF_BUILD_DIR set)\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  std::wstring folder = argv[1];
  LocalFree(argv);
  CreateDirectoryW(folder.c_str(), nullptr);
  TestWindow owner(L"Dropleaf.Bench.Owner", HWND_MESSAGE);
  int failures = RunOne(owner.Get(), folder, 3840, 2160) + RunOne(owner.Get(), folder, 7680, 4320);
  failures += MeasureTypingDuringPaste(BuildFolder() + L"Dropleaf.exe");
  CoUninitialize();
  return failures;
}
