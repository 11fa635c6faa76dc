#include "tests/paste/paste_test_support.h"

#include <wincodec.h>

#include <cstdlib>
#include <cstring>

#include "app/com_ptr.h"

uint32_t PatternPixel(int x, int y) {
  uint32_t b = (x * 7 + y * 3) & 0xFF;
  uint32_t g = (x * y + 11) & 0xFF;
  uint32_t r = (255 - x * 5 + y) & 0xFF;
  static const uint32_t kAlpha[3] = {0x00, 0x80, 0xFF};
  uint32_t a = kAlpha[(x + y) % 3];
  return (a << 24) | (r << 16) | (g << 8) | b;
}

Image PatternImage(int width, int height) {
  Image image{width, height, {}};
  image.pixels.reserve(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.pixels.push_back(PatternPixel(x, y));
  }
  return image;
}

Image WithoutAlpha(const Image& image) {
  Image out = image;
  for (uint32_t& p : out.pixels) p &= 0x00FFFFFF;
  return out;
}

static BITMAPINFO TopDown32(int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

HBITMAP CreateDibSection(const Image& image) {
  BITMAPINFO info = TopDown32(image.width, image.height);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap && bits) memcpy(bits, image.pixels.data(), image.pixels.size() * 4);
  return bitmap;
}

Image ReadBitmap(HBITMAP bitmap) {
  BITMAP header = {};
  if (!GetObjectW(bitmap, sizeof(header), &header)) return {};
  Image image{header.bmWidth, header.bmHeight, {}};
  image.pixels.resize(static_cast<size_t>(image.width) * image.height);
  BITMAPINFO info = TopDown32(image.width, image.height);
  HDC screen = GetDC(nullptr);
  int rows = GetDIBits(screen, bitmap, 0, image.height, image.pixels.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows != image.height) return {};
  return WithoutAlpha(image);
}

Image DecodePngWithWic(const std::wstring& path) {
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICBitmapSource> converted;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, factory.PutVoid())) ||
      FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, decoder.Put())) ||
      FAILED(decoder->GetFrame(0, frame.Put())) ||
      FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.Get(), converted.Put()))) {
    return {};
  }
  UINT width = 0, height = 0;
  converted->GetSize(&width, &height);
  Image image{static_cast<int>(width), static_cast<int>(height), {}};
  image.pixels.resize(static_cast<size_t>(width) * height);
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
  if (path.back() != L'\\') path += L'\\';
  return path;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder, const wchar_t* pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

void RemoveFolderFiles(const std::wstring& folder) {
  for (const std::wstring& name : FilesIn(folder, L"*"))
    DeleteFileW((folder + L"\\" + name).c_str());
}

std::wstring MakeCleanFolder(const std::wstring& name) {
  std::wstring folder = BuildFolder() + name;
  CreateDirectoryW(folder.c_str(), nullptr);
  RemoveFolderFiles(folder);
  return folder;
}

static LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

static void RegisterPlainClass(const wchar_t* name) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = PlainWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = name;
  RegisterClassW(&windowClass);  // a second registration fails harmlessly
}

HWND CreateMessageOnlyWindow() {
  RegisterPlainClass(L"Dropleaf.PasteTests.Owner");
  return CreateWindowExW(0, L"Dropleaf.PasteTests.Owner", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

HWND CreateTopLevelWindow(const wchar_t* className) {
  RegisterPlainClass(className);
  return CreateWindowExW(0, className, L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

static bool ReplaceClipboard(HWND owner, UINT format, HANDLE data) {
  if (!OpenClipboard(owner)) return false;
  bool placed = EmptyClipboard() && SetClipboardData(format, data);
  CloseClipboard();
  return placed;
}

static HGLOBAL Global(const void* bytes, size_t size) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!memory) return nullptr;
  memcpy(GlobalLock(memory), bytes, size);
  GlobalUnlock(memory);
  return memory;
}

bool PutDibOnClipboard(HWND owner, const Image& image, bool asV5) {
  // Bottom-up rows, as most programs put them on the clipboard.
  std::vector<uint32_t> rows;
  for (int y = image.height - 1; y >= 0; --y) {
    rows.insert(rows.end(), image.pixels.begin() + static_cast<size_t>(y) * image.width,
                image.pixels.begin() + static_cast<size_t>(y + 1) * image.width);
  }
  BITMAPV5HEADER header = {};
  header.bV5Size = asV5 ? sizeof(BITMAPV5HEADER) : sizeof(BITMAPINFOHEADER);
  header.bV5Width = image.width;
  header.bV5Height = image.height;
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_RGB;
  header.bV5SizeImage = static_cast<DWORD>(rows.size() * 4);
  if (asV5) header.bV5CSType = 0x73524742;  // LCS_sRGB, 'sRGB'
  std::vector<BYTE> packed(header.bV5Size + rows.size() * 4);
  memcpy(packed.data(), &header, header.bV5Size);
  memcpy(packed.data() + header.bV5Size, rows.data(), rows.size() * 4);
  HGLOBAL data = Global(packed.data(), packed.size());
  if (!data) return false;
  if (ReplaceClipboard(owner, asV5 ? CF_DIBV5 : CF_DIB, data)) return true;
  GlobalFree(data);
  return false;
}

bool PutTextOnClipboard(HWND owner, const wchar_t* text) {
  HGLOBAL data = Global(text, (wcslen(text) + 1) * sizeof(wchar_t));
  if (!data) return false;
  if (ReplaceClipboard(owner, CF_UNICODETEXT, data)) return true;
  GlobalFree(data);
  return false;
}

bool PutBitmapOnClipboard(HWND owner, HBITMAP bitmap) {
  return ReplaceClipboard(owner, CF_BITMAP, bitmap);
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
