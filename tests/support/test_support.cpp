#include "tests/support/test_support.h"

#include <shlobj.h>
#include <wincodec.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core/app_state.h"
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"); }

bool WaitUntil(const std::function<bool()>& done, DWORD milliseconds) {
  for (const long long deadline = NowMs() + milliseconds; !done();) {
    if (NowMs() >= deadline) return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

static LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self && self->onMessage) self->onMessage(message, wParam);
  if (self && message == WM_KEYDOWN && wParam == 'V') ++self->vKeyDowns;
  if (!self || message != WM_PASTE_REQUEST) return DefWindowProcW(window, message, wParam, lParam);
  ++self->pasteRequests;
  self->lastTarget = reinterpret_cast<HWND>(wParam);
  return 0;
}

TestWindow::TestWindow(const wchar_t* className, HWND parent) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = TestWindowProc;
  windowClass.lpszClassName = className;
  RegisterClassW(&windowClass);  // a second registration fails harmlessly
  const DWORD style = parent == HWND_MESSAGE ? 0
                      : parent               ? WS_CHILD | WS_VISIBLE
                                             : WS_OVERLAPPEDWINDOW;
  window_ = CreateWindowExW(0, className, L"Dropleaf test", style, parent ? 0 : 100,
                            parent ? 0 : 100, 300, 200, parent, nullptr, nullptr, nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  if (parent) return;
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  WaitUntil([&] { return GetForegroundWindow() == window_; }, 1000);
}

void SendCtrlV() {
  for (auto [key, flags] : {std::pair<BYTE, DWORD>{VK_CONTROL, 0},
                            {'V', 0},
                            {'V', KEYEVENTF_KEYUP},
                            {VK_CONTROL, KEYEVENTF_KEYUP}}) {
    keybd_event(key, BYTE(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)), flags, 0);
    PumpMessagesFor(30);
  }
}

Image PatternImage(int width, int height, uint32_t alpha) {
  Image image{width, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t b = (x * 7 + y * 3) & 0xFF, g = (x * y + 11) & 0xFF, r = (255 - x * 5 + y) & 0xFF;
      image.pixels.push_back(alpha << 24 | r << 16 | g << 8 | b);
    }
  }
  return image;
}

Image DecodeImageFile(const std::wstring& path) {
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICBitmapSource> converted;
  UINT width = 0, height = 0;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&factory))) ||
      FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) ||
      FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.Get(), &converted)) ||
      FAILED(converted->GetSize(&width, &height))) {
    return {};
  }
  Image image{int(width), int(height), std::vector<uint32_t>(size_t(width) * height)};
  converted->CopyPixels(nullptr, width * 4, width * height * 4,
                        reinterpret_cast<BYTE*>(image.pixels.data()));
  return image;
}

std::string DibBytes(const Image& image) {
  const BITMAPINFOHEADER header = {sizeof(header), image.width, image.height, 1, 32};
  std::string packed(reinterpret_cast<const char*>(&header), sizeof(header));
  for (int y = image.height - 1; y >= 0; --y) {
    packed.append(reinterpret_cast<const char*>(&image.pixels[size_t(y) * image.width]),
                  image.width * 4);
  }
  return packed;
}

bool PutOnClipboard(const Image& image, const std::wstring& text, const std::wstring& file) {
  ClipboardFormats contents;
  if (!image.pixels.empty()) contents.emplace_back(CF_DIB, DibBytes(image));
  if (!text.empty()) {
    contents.emplace_back(CF_UNICODETEXT, std::string(reinterpret_cast<const char*>(text.c_str()),
                                                      (text.size() + 1) * 2));
  }
  if (!file.empty()) {  // DROPFILES, then the wide name and the list's closing zero
    const DROPFILES head = {sizeof(DROPFILES), {}, FALSE, TRUE};
    std::string& list =
        contents
            .emplace_back(CF_HDROP, std::string(reinterpret_cast<const char*>(&head), sizeof(head)))
            .second;
    list.append(reinterpret_cast<const char*>(file.c_str()), file.size() * 2).append(4, '\0');
  }
  return PutFormatsOnClipboard(contents);
}

HGLOBAL GlobalBlock(const std::string& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (block) memcpy(GlobalLock(block), bytes.data(), bytes.size()), GlobalUnlock(block);
  return block;
}

bool PutFormatsOnClipboard(const ClipboardFormats& formats, HWND owner) {
  for (int attempt = 0; attempt < 20 && !OpenClipboard(owner); ++attempt) Sleep(10);
  bool placed = EmptyClipboard();
  for (const auto& [format, bytes] : formats) {
    HGLOBAL block = bytes.empty() ? nullptr : GlobalBlock(bytes);
    if (!SetClipboardData(format, block) && block) placed = false, GlobalFree(block);
  }
  CloseClipboard();
  return placed;
}

std::wstring BuildFolder() {
  const char* unix = getenv("DROPLEAF_BUILD_DIR");
  return (L"Z:" / std::filesystem::path(unix ? unix : "/tmp").make_preferred() / L"").wstring();
}

std::wstring KnownDesktop() {
  PWSTR path = nullptr;
  SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &path);
  std::wstring result = path ? path : L"";
  CoTaskMemFree(path);
  return result + L"\\";
}

std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& prefix) {
  std::vector<std::wstring> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::wstring name = entry.path().filename().wstring();
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}
