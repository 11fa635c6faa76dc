#include "tests/paste/paste_test_support.h"

#include <shlobj.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/com_ptr.h"

Image PatternImage(int width, int height) {
  static const uint32_t kAlpha[3] = {0x00, 0x80, 0xFF};
  Image image{width, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t b = (x * 7 + y * 3) & 0xFF, g = (x * y + 11) & 0xFF, r = (255 - x * 5 + y) & 0xFF;
      image.pixels.push_back((kAlpha[(x + y) % 3] << 24) | (r << 16) | (g << 8) | b);
    }
  }
  return image;
}

Image WithAlpha(const Image& image, uint32_t alpha) {
  Image out = image;
  for (uint32_t& p : out.pixels) p = (p & 0x00FFFFFF) | (alpha << 24);
  return out;
}

// A 32-bpp header; bottom-up rows for a positive height, top-down for a negative one.
static BITMAPV5HEADER Header32(int width, int height) {
  BITMAPV5HEADER header = {};
  header.bV5Size = sizeof(BITMAPINFOHEADER);
  header.bV5Width = width;
  header.bV5Height = height;
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_RGB;
  header.bV5SizeImage = static_cast<DWORD>(width) * std::abs(height) * 4;
  return header;
}

HBITMAP CreateDibSection(const Image& image) {
  BITMAPV5HEADER info = Header32(image.width, -image.height);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
  if (bitmap && bits) memcpy(bits, image.pixels.data(), image.pixels.size() * 4);
  return bitmap;
}

Image ReadBitmap(HBITMAP bitmap) {
  BITMAP header = {};
  if (!GetObjectW(bitmap, sizeof(header), &header)) return {};
  Image image{header.bmWidth, header.bmHeight, {}};
  image.pixels.resize(static_cast<size_t>(image.width) * image.height);
  BITMAPV5HEADER info = Header32(image.width, -image.height);
  HDC screen = GetDC(nullptr);
  int rows = GetDIBits(screen, bitmap, 0, image.height, image.pixels.data(),
                       reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return rows == image.height ? WithAlpha(image, 0) : Image{};
}

Image DecodePngWithWic(const std::wstring& path) {
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICBitmapSource> converted;
  UINT width = 0, height = 0;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, factory.PutVoid())) ||
      FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, decoder.Put())) ||
      FAILED(decoder->GetFrame(0, frame.Put())) ||
      FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.Get(), converted.Put())) ||
      FAILED(converted->GetSize(&width, &height))) {
    return {};
  }
  Image image{static_cast<int>(width), static_cast<int>(height),
              std::vector<uint32_t>(static_cast<size_t>(width) * height)};
  if (FAILED(converted->CopyPixels(nullptr, width * 4, width * height * 4,
                                   reinterpret_cast<BYTE*>(image.pixels.data())))) {
    return {};
  }
  return image;
}

std::wstring BuildFolder() {
  const char* unix = getenv("DROPLEAF_BUILD_DIR");
  std::wstring path = L"Z:";
  for (const char* c = unix ? unix : "/tmp"; *c; ++c) path += (*c == '/') ? L'\\' : wchar_t(*c);
  return path.back() == L'\\' ? path : path + L'\\';
}

std::wstring MakeCleanFolder(const std::wstring& name) {
  std::wstring folder = BuildFolder() + name;
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  std::filesystem::create_directory(folder, error);
  return folder;
}

// The tests run as root and Wine ignores the read-only attribute on folders, so the
// fixture makes this one immutable instead; where that failed, the callers skip.
std::wstring LockedFolder() {
  std::wstring locked = BuildFolder() + L"paste-locked", probe = locked + L"\\probe";
  if (!FileExists(locked) || WriteBytes(probe, "x", 1)) {
    DeleteFileW(probe.c_str());
    return L"";
  }
  return locked;
}

std::wstring KnownDesktop() {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &path))) result = path;
  CoTaskMemFree(path);
  return result;
}

double NowMs() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * counter.QuadPart / frequency.QuadPart;
}

HWND CreateTestWindow(const wchar_t* className, HWND parent, WNDPROC proc) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = className;
  RegisterClassW(&windowClass);  // a second registration fails harmlessly
  return CreateWindowExW(0, className, L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, parent, nullptr,
                         windowClass.hInstance, nullptr);
}

// Takes ownership of `data` when placing it succeeds.
static bool PutOnClipboard(HWND owner, UINT format, HANDLE data) {
  bool opened = data && OpenClipboard(owner);
  bool placed = opened && EmptyClipboard() && SetClipboardData(format, data);
  if (opened) CloseClipboard();
  if (!placed && data && format != CF_BITMAP) GlobalFree(data);
  return placed;
}

static HGLOBAL Global(const void* bytes, size_t size) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  if (memory) {
    memcpy(GlobalLock(memory), bytes, size);
    GlobalUnlock(memory);
  }
  return memory;
}

bool PutDibOnClipboard(HWND owner, const Image& image, bool asV5) {
  BITMAPV5HEADER header = Header32(image.width, image.height);
  if (asV5) {
    header.bV5Size = sizeof(BITMAPV5HEADER);
    header.bV5CSType = 0x73524742;  // LCS_sRGB, 'sRGB'
  }
  std::vector<BYTE> packed(reinterpret_cast<BYTE*>(&header),
                           reinterpret_cast<BYTE*>(&header) + header.bV5Size);
  // Bottom-up rows, as most programs put them on the clipboard.
  for (int y = image.height - 1; y >= 0; --y) {
    const BYTE* row = reinterpret_cast<const BYTE*>(&image.pixels[size_t(y) * image.width]);
    packed.insert(packed.end(), row, row + image.width * 4);
  }
  return PutOnClipboard(owner, asV5 ? CF_DIBV5 : CF_DIB, Global(packed.data(), packed.size()));
}

bool PutTextOnClipboard(HWND owner, const wchar_t* text) {
  return PutOnClipboard(owner, CF_UNICODETEXT, Global(text, (wcslen(text) + 1) * sizeof(*text)));
}

bool PutBitmapOnClipboard(HWND owner, HBITMAP bitmap) {
  return PutOnClipboard(owner, CF_BITMAP, bitmap);
}

bool FileExists(const std::wstring& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

bool WriteBytes(const std::wstring& path, const void* bytes, size_t size) {
  std::ofstream file(std::filesystem::path(path), std::ios::binary);
  return file && file.write(static_cast<const char*>(bytes), size).flush();
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The plain files in `folder` named `prefix`*`suffix`.
std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& prefix,
                                  const std::wstring& suffix) {
  std::vector<std::wstring> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::wstring name = entry.path().filename().wstring();
    if (entry.is_regular_file(error) && name.rfind(prefix, 0) == 0 &&
        name.size() >= suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}
