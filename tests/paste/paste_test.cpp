#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <list>
#include <thread>

#include "core/app_state.h"
#include "paste/clipboard_formats.h"
#include "paste/dib_layout.h"
#include "paste/output_file.h"
#include "paste/output_naming.h"
#include "paste/paste_operation.h"
#include "paste/png_check.h"
#include "tests/paste/fake_shell_windows.h"
#include "tests/support/test_support.h"

// Real windows, the clipboard, WIC and the shell, with the fake collection in this apartment.
namespace {

const std::wstring kSaved = L"已保存图片 | ";
const std::wstring kFolderWarning = L"Dropleaf | 无法获取当前文件夹路径。 | 2";

std::wstring CleanFolder(const std::wstring& folder) {
  for (const std::wstring& file : FilesIn(folder, L"")) DeleteFileW((folder + file).c_str());
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

class Paste : public testing::Test {
 protected:
  void SetUp() override {
    AppState.hiddenWindow = hidden.Get();
    // Screenshots often carry alpha bytes of 0 that mean nothing: the PNG is opaque.
    ASSERT_TRUE(PutOnClipboard(PatternImage(37, 21, 0)));
  }
  // The outcome's balloon as "title | text | icon".
  std::wstring PasteInto(HWND target) {
    std::wstring balloon;
    PasteIntoTarget({target}, [&](const wchar_t* title, const std::wstring& text, DWORD icon) {
      balloon = std::wstring(title) + L" | " + text + L" | " + std::to_wstring(icon);
    });
    return balloon;
  }
  // The name of the folder's one PNG, which holds the clipboard's image.
  std::wstring SavedImageIn(const std::wstring& folder) {
    const std::vector<std::wstring> files = FilesIn(folder, L"Screenshot_");
    EXPECT_EQ(files.size(), 1u);
    EXPECT_TRUE(!files.empty() && DecodeImageFile(folder + files[0]).pixels == image.pixels);
    return files.empty() ? L"" : files[0];
  }
  HWND Tab() { return tabs.emplace_back(L"ShellTabWindowClass", frame.Get()).Get(); }

  TestWindow hidden{L"Dropleaf.Test.Hidden", HWND_MESSAGE};
  TestWindow frame{L"CabinetWClass"};
  std::list<TestWindow> tabs;
  const Image image = PatternImage(37, 21);
  const std::wstring a = CleanFolder(BuildFolder() + L"paste-a\\");
  const std::wstring b =
      CleanFolder(BuildFolder() + L"paste b #1 100% 图片\\");  // as users name them
};

// Entries that show no existing folder, or whose window closed as it was asked, are skipped;
// a tabbed frame's active tab alone counts.
TEST_F(Paste, IntoTheActiveTabsFolderWithTheFileSelectedThereAndNoOtherWindowAsked) {
  HWND tab0 = Tab(), tab1 = Tab();
  TestWindow otherFrame(L"CabinetWClass");
  std::vector<FakeShellEntry> entries = {
      {otherFrame.Get(), nullptr, b},
      {frame.Get(), nullptr, b, L"", true},
      {frame.Get(), nullptr, L"", L"about:blank"},
      {frame.Get(), nullptr, L"", L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"},
      {frame.Get(), nullptr, a + L"gone"},
      {frame.Get(), tab0, a},
      {frame.Get(), tab1, b},
      {otherFrame.Get(), nullptr, a}};
  {  // A third tab in front that no entry reports: any folder could be the wrong one.
    SetWindowPos(Tab(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    FakeShellWindows shell(entries);
    EXPECT_EQ(PasteInto(frame.Get()), kFolderWarning);
    EXPECT_EQ(FilesIn(a, L"Screenshot_").size() + FilesIn(b, L"Screenshot_").size(), 0u);
    tabs.pop_back();
  }
  for (HWND active : {tab1, tab0, HWND(nullptr)}) {
    if (active) SetWindowPos(active, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    if (!active) tabs.clear();  // no tabs: the frame's first entry that shows a folder
    FakeShellEntry& shown = entries[active == tab1 ? 6 : 5];
    entries[5].selected.clear(), entries[6].selected.clear(), CleanFolder(shown.folder);
    FakeShellWindows shell(entries);
    const std::wstring balloon = PasteInto(frame.Get()), name = SavedImageIn(shown.folder);
    EXPECT_EQ(balloon, kSaved + name + L" | 1");
    EXPECT_EQ(shown.selected, std::vector<std::wstring>{shown.folder + name + L" 0x1D"});
    EXPECT_EQ(entries[5].selected.size() + entries[6].selected.size(), 1u) << "one view only";
  }
  EXPECT_EQ(entries[0].urlReads + entries[7].urlReads, 0) << "no other window's location read";
}

// The view's folder is matched by its path, whatever its item-ID list (the Desktop as the
// namespace root saves into the Desktop folder), and a view that lists the new file only later
// gets it selected then, once.
TEST_F(Paste, SelectedInAViewOfTheDesktopRootAndOnceInAViewThatListsTheFileLate) {
  const std::wstring desktop = KnownDesktop();
  std::vector<FakeShellEntry> entries = {{frame.Get(), nullptr, desktop}};
  entries[0].rootView = true;
  {
    FakeShellWindows shell(entries);
    const std::wstring balloon = PasteInto(frame.Get());
    const std::wstring name = balloon.substr(kSaved.size(), balloon.size() - kSaved.size() - 4);
    EXPECT_EQ(entries[0].selected, std::vector<std::wstring>{desktop + name + L" 0x1D"});
    DeleteFileW((desktop + name).c_str());
  }
  entries = {{frame.Get(), nullptr, a}};
  entries[0].refusedSelects = 2;
  FakeShellWindows shell(entries);
  const std::wstring name = (PasteInto(frame.Get()), SavedImageIn(a));
  EXPECT_TRUE(entries[0].selected.empty()) << "not listed yet";
  EXPECT_TRUE(WaitUntil([&] { return !entries[0].selected.empty(); }, 1500));
  PumpMessagesFor(800);
  EXPECT_EQ(entries[0].selected, std::vector<std::wstring>{a + name + L" 0x1D"});
  ASSERT_TRUE(PutOnClipboard({}, L"no image"));  // the clipboard is read once a folder is known
  EXPECT_EQ(PasteInto(frame.Get()), L"Dropleaf | 剪贴板中没有可保存的图片。 | 2");
  EXPECT_EQ(FilesIn(a, L"Screenshot_").size(), 1u);
}

// A request that comes while a paste is under way (a call into Explorer ran a modal loop)
// waits for it and then runs, once.
TEST_F(Paste, ARequestDuringAPasteRunsAfterIt) {
  std::vector<std::wstring> balloons;
  const PasteReport report = [&](const wchar_t* title, const std::wstring& text, DWORD) {
    balloons.push_back(title + (L" | " + text));
  };
  std::vector<FakeShellEntry> entries = {{frame.Get(), nullptr, a}};
  entries[0].onLocationRead = [&] {
    if (entries[0].urlReads > 1) return;
    HandlePasteRequest({frame.Get()}, report);
    EXPECT_TRUE(balloons.empty()) << "the second paste ran inside the first";
  };
  FakeShellWindows shell(entries);
  HandlePasteRequest({frame.Get()}, report);
  const std::vector<std::wstring> files = FilesIn(a, L"Screenshot_");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(balloons, (std::vector<std::wstring>{kSaved + files[0], kSaved + files[1]}));
}

// A sign-out's WM_ENDSESSION, sent while the selection waits on Explorer, runs the teardown
// inside that call: the paste stops there (its file stays whole), the request queued behind it
// is dropped, and the refused selection is not tried again on a timer after the teardown.
TEST_F(Paste, ATeardownDuringTheSelectionEndsThePasteThere) {
  {  // or inside the clipboard owner's WM_RENDERFORMAT, as the image is read: no file at all
    TestWindow source(L"Dropleaf.Test.Source", HWND_MESSAGE);
    source.onMessage = [&](UINT message, WPARAM) {
      if (message != WM_RENDERFORMAT) return;
      SetClipboardData(CF_DIB, GlobalBlock(DibBytes(image)));
      StopPasting();
    };
    ASSERT_TRUE(PutFormatsOnClipboard({{CF_DIB, ""}}, source.Get()));
    std::vector<FakeShellEntry> entries = {{frame.Get(), nullptr, a}};
    FakeShellWindows shell(entries);
    EXPECT_EQ(PasteInto(frame.Get()), L"");
    EXPECT_TRUE(AppState.teardownBegun.exchange(false)) << "the owner rendered it";
    EXPECT_EQ(FilesIn(a, L"").size(), 0u);
    ASSERT_TRUE(PutOnClipboard(PatternImage(37, 21, 0)));
  }
  {  // or inside the balloon, which waits on the shell: Explorer is asked nothing more
    std::vector<FakeShellEntry> entries = {{frame.Get(), nullptr, a}};
    FakeShellWindows shell(entries);
    PasteIntoTarget({frame.Get()},
                    [](const wchar_t*, const std::wstring&, DWORD) { StopPasting(); });
    AppState.teardownBegun.exchange(false);
    EXPECT_EQ(entries[0].frameReads, 1) << "asked for the folder alone";
    CleanFolder(a);
  }
  std::vector<std::wstring> balloons;
  const PasteReport report = [&](const wchar_t* title, const std::wstring& text, DWORD) {
    balloons.push_back(title + (L" | " + text));
  };
  std::vector<FakeShellEntry> entries = {{frame.Get(), nullptr, a}};
  entries[0].refusedSelects = 3;
  entries[0].onSelect = [&] {
    HandlePasteRequest({frame.Get()}, report);  // typed meanwhile: waits for its turn
    StopPasting();
  };
  FakeShellWindows shell(entries);
  HandlePasteRequest({frame.Get()}, report);
  PumpMessagesFor(1000);  // the retries would have come 200 ms apart
  AppState.teardownBegun.exchange(false);
  EXPECT_EQ(entries[0].refusedSelects, 2) << "one selection, no retry after the teardown";
  const std::wstring name = SavedImageIn(a);
  EXPECT_EQ(balloons, std::vector<std::wstring>{kSaved + name}) << "the queued paste is dropped";
}

// What was copied is what is saved: the source's own "PNG" byte for byte (nothing after its
// IEND), unless it is cut or damaged; every DIB layout that programs give, as GDI shows it,
// masks WIC's decoder does not read included; alpha kept only where the format states it or the
// rows are premultiplied, and premultiplied colours written straight.
TEST_F(Paste, TheSourcesOwnPngOrItsDibInEveryLayoutWithItsAlpha) {
  std::vector<FakeShellEntry> entries = {{frame.Get(), nullptr, a}};
  FakeShellWindows shell(entries);
  auto pasted = [&](const ClipboardFormats& formats) {
    CleanFolder(a);
    EXPECT_TRUE(PutFormatsOnClipboard(formats));
    const std::wstring balloon = PasteInto(frame.Get());
    const std::vector<std::wstring> files = FilesIn(a, L"");
    EXPECT_EQ(files.size(), balloon.rfind(kSaved, 0) == 0 ? 1u : 0u) << "no temporary file";
    return files.empty() ? L"" : a + files[0];
  };
  const std::string png = ReadBytes(pasted({{CF_DIB, DibBytes(image)}}));
  const UINT pngFormat = RegisterClipboardFormatW(L"PNG");
  const std::string otherDib = DibBytes(PatternImage(5, 5, 0));
  EXPECT_EQ(ReadBytes(pasted({{CF_DIB, otherDib}, {pngFormat, png + "rounded up"}})), png);
  std::string damaged = png;
  damaged[damaged.size() / 2] ^= 1;
  EXPECT_EQ(DecodeImageFile(pasted({{pngFormat, damaged}, {CF_DIB, DibBytes(image)}})).pixels,
            image.pixels);
  EXPECT_EQ(pasted({{pngFormat, png.substr(0, png.size() - 12)}}), L"") << "cut before IEND";

  struct Layout {
    DWORD headerSize;
    LONG height;  // negative: top-down
    WORD bits;
    DWORD compression;
    std::vector<uint32_t> masks, colours;
    std::string rows;
  };
  auto words = [](std::vector<uint32_t> w) { return std::string((char*)w.data(), w.size() * 4); };
  const std::vector<uint32_t> straight = {0x40FF8020, 0xC0FF8020, 0, 0x80FFFFFF, 0x10203040, 0xFF};
  // What a screen's surface leaves in the fourth byte: 0 in one part, 255 in another.
  const std::vector<uint32_t> surface = {0xFF102030, 0x405060, 0xFF708090, 0xA0B0C0, 0xD0E0F0, 0};
  std::vector<uint32_t> grey(256);  // 256 colours, which most 8-bit DIBs count as 0
  for (uint32_t i = 0; i < 256; ++i) grey[i] = (255 - i) * 0x010101;
  const std::vector<Layout> layouts = {
      {40, 2, 1, BI_RGB, {}, {0xFF0000, 0x00FF00}, std::string("\x60\0\0\0\x80\0\0\0", 8)},
      {40,
       -2,
       4,
       BI_RGB,
       {},
       {0x123456, 0xABCDEF, 0x00FF80},
       std::string("\x01\x20\0\0\x21\0\0\0", 8)},
      {108, 2, 8, BI_RGB, {}, {0x101010, 0x808080, 0xF0E0D0}, std::string("\0\1\2\0\2\1\0\0", 8)},
      {40, 2, 16, BI_RGB, {}, {}, words({0x03E07C00, 0x7C00001F, 0x03E0001F, 0x7FFF})},
      {40,
       -2,
       16,
       BI_BITFIELDS,
       {0xF800, 0x07E0, 0x001F},
       {},
       words({0x07E0F800, 0xF81F, 0xFFE0FFFF, 0x1F})},
      {124,
       -2,
       24,
       BI_RGB,
       {},
       {},
       words({0x40302010, 0x80706050, 0x90, 0x30201090, 0x70605040, 0x80})},
      {40,
       2,
       32,
       BI_BITFIELDS,
       {0xFF0000, 0xFF00, 0xFF},
       {},
       words({0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0, 0x123456})},
      {124, -2, 32, BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {}, words(straight)},
      {40, 2, 8, BI_RGB, {}, grey, std::string("\0\x7F\xFF\0\x10\x20\x30\0", 8)},
      {40, 2, 32, BI_RGB, {}, {}, words(surface)},
      {124, -2, 32, BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF, 0}, {}, words(surface)},
      {40, 2, 32, BI_BITFIELDS, {0xFF, 0xFF00, 0xFF0000}, {}, words(surface)},  // red first
      {40,
       -2,
       16,
       BI_BITFIELDS,
       {0xF00, 0xF0, 0xF},
       {},
       words({0x0F0A0F00, 0xFFF, 0x08420FF0, 0xF0F0})},
  };
  for (const Layout& l : layouts) {
    BITMAPV5HEADER header = {l.headerSize, 3, l.height, 1, l.bits, l.compression};
    header.bV5ClrUsed = l.colours.size() == 256 ? 0 : DWORD(l.colours.size());
    memcpy(&header.bV5RedMask, l.masks.data(), l.headerSize > 40 ? l.masks.size() * 4 : 0);
    const std::string dib = std::string((char*)&header, l.headerSize) +
                            (l.headerSize > 40 ? "" : words(l.masks)) + words(l.colours) + l.rows;
    // As GDI draws it, alpha aside.
    const BITMAPINFOHEADER topDown = {sizeof(topDown), 3, -2, 1, 32};
    uint32_t* shown = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, (BITMAPINFO*)&topDown, DIB_RGB_COLORS,
                                       (void**)&shown, nullptr, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, section);
    SetDIBitsToDevice(dc, 0, 0, 3, 2, 0, 0, 0, 2, dib.data() + dib.size() - l.rows.size(),
                      (BITMAPINFO*)dib.data(), DIB_RGB_COLORS);
    DeleteDC(dc);
    std::vector<uint32_t> expected;  // opaque, but where the header states an alpha that varies
    const bool alpha = l.masks.size() == 4 && l.masks[3] == 0xFF000000;
    for (int p = 0; p < 6; ++p)
      expected.push_back((alpha ? straight[p] : 0xFF000000) | (shown[p] & 0xFFFFFF));
    DeleteObject(section);
    EXPECT_EQ(DecodeImageFile(pasted({{CF_DIB, dib}})).pixels, expected)
        << l.headerSize << "-byte header, " << l.bits << " bits";
  }

  // A screen's bitmap placed as CF_BITMAP: read through the DIB the system makes of it, opaque.
  {
    const HDC screen = GetDC(nullptr);
    const HBITMAP ddb = CreateCompatibleBitmap(screen, 3, 2);
    const BITMAPINFOHEADER rows = {sizeof(rows), 3, -2, 1, 32};
    SetDIBits(screen, ddb, 0, 2, surface.data(), (const BITMAPINFO*)&rows, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    CleanFolder(a);
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    SetClipboardData(CF_BITMAP, ddb);
    CloseClipboard();
    EXPECT_EQ(PasteInto(frame.Get()).rfind(kSaved, 0), 0u);
    const std::vector<std::wstring> files = FilesIn(a, L"");
    std::vector<uint32_t> opaque;
    for (uint32_t p : surface) opaque.push_back(p | 0xFF000000);
    EXPECT_EQ(files.empty() ? std::vector<uint32_t>() : DecodeImageFile(a + files[0]).pixels,
              opaque);
  }

  // A browser's copy: premultiplied FA6414 at alpha 0, 128 and 255, behind a V5 header that says
  // so or a 40-byte one that says nothing of alpha.
  BITMAPV5HEADER v5 = {sizeof(v5), 3, -1, 1, 32, BI_BITFIELDS};
  v5.bV5RedMask = 0xFF0000, v5.bV5GreenMask = 0xFF00, v5.bV5BlueMask = 0xFF;
  v5.bV5AlphaMask = 0xFF000000;
  const BITMAPINFOHEADER plain = {sizeof(plain), 3, -1, 1, 32, BI_RGB};
  for (const std::string& header :
       {std::string((char*)&v5, sizeof(v5)), std::string((char*)&plain, sizeof(plain))}) {
    const Image saved = DecodeImageFile(pasted(
        {{header.size() == 40 ? CF_DIB : CF_DIBV5, header + words({0, 0x807D320A, 0xFFFA6414})}}));
    ASSERT_EQ(saved.pixels.size(), 3u) << header.size();
    EXPECT_EQ(saved.pixels[0] >> 24, 0u);
    EXPECT_EQ(saved.pixels[2], 0xFFFA6414u);
    EXPECT_EQ(saved.pixels[1] >> 24, 0x80u);
    for (int shift : {0, 8, 16}) {
      EXPECT_NEAR(int(saved.pixels[1] >> shift & 0xFF), int(0xFFFA6414u >> shift & 0xFF), 2);
    }
  }
}

// Another program's bytes, whatever they claim: no crash, no file, the no-image warning.
TEST_F(Paste, AClipboardDibThatLiesSavesNothing) {
  std::vector<FakeShellEntry> entries = {{frame.Get(), nullptr, a}};
  FakeShellWindows shell(entries);
  auto header = [](LONG width, LONG height, WORD bits, DWORD compression, DWORD colours = 0) {
    BITMAPINFOHEADER h = {sizeof(h), width, height, 1, bits, compression};
    h.biClrUsed = colours;
    return std::string((char*)&h, sizeof(h));
  };
  BITMAPV5HEADER v5 = {12, 2, 2, 1, 32};
  const BITMAPCOREHEADER core = {sizeof(core), 2, 2, 1, 24};
  const std::string pixels(64, '\x7F');
  for (const std::string& dib : {
           header(100, 100, 32, BI_RGB) + pixels,             // sizes larger than the data
           header(2, 2, 8, BI_RGB, 0x7FFFFFFF) + pixels,      // a colour count of 0x7FFFFFFF
           header(65536, 65537, 1, BI_RGB) + pixels,          // width × height past 32 bits
           std::string((char*)&core, sizeof(core)) + pixels,  // a 12-byte header
           std::string((char*)&v5, sizeof(v5)) + pixels,      // a V5 header saying 12
           header(0, 0, 32, BI_RGB) + pixels,
           header(100, 100, 32, BI_BITFIELDS).substr(0, 40) + "\x01\x02\x03\x04\x05\x06\x07\x08",
           header(2, 2, 7, BI_RGB) + pixels, header(-2, 2, 32, BI_RGB) + pixels,
           header(2, INT_MIN, 32, BI_RGB) + pixels,
           header(2, 2, 8, BI_RLE8) + pixels,  // compressed: another format's, and there is none
       }) {
    ASSERT_TRUE(PutFormatsOnClipboard({{CF_DIB, dib}}));
    EXPECT_EQ(PasteInto(frame.Get()), L"Dropleaf | 剪贴板中没有可保存的图片。 | 2");
    EXPECT_EQ(FilesIn(a, L"").size(), 0u) << "nothing left, temporary files included";
  }
  // The first DIB listed is the source's; a CF_BITMAP only when it comes before every DIB.
  EXPECT_EQ(ImageFormatsToRead({CF_DIB, 49000, CF_BITMAP, CF_DIBV5}, 49000),
            (std::vector<UINT>{49000, CF_DIB}));
  EXPECT_EQ(ImageFormatsToRead({CF_BITMAP, CF_DIBV5, CF_DIB}, 49000),
            (std::vector<UINT>{CF_DIBV5, CF_BITMAP}));
}

TEST(SaveRules, TheNameComesFromTheLocalTimeAndTheFileIsWholeUnderANameNobodyTook) {
  const SYSTEMTIME time = {2025, 3, 5, 14, 9, 15, 2, 0};  // Friday 2025-03-14 09:15:02
  auto plainTaken = [](const std::wstring& path) {
    return path == L"C:\\Screenshot_20250314_091502.png";
  };
  EXPECT_EQ(ChooseOutputPathAt(L"C:\\", time, plainTaken), L"C:\\Screenshot_20250314_091502_2.png");
  EXPECT_EQ(ChooseOutputPathAt(L"C:\\x", time, plainTaken),
            L"C:\\x\\Screenshot_20250314_091502.png");

  // Written hidden under a name of its own, then renamed; a writer that fails leaves nothing,
  // and a file another program made under the chosen name meanwhile is kept.
  const std::wstring folder = CleanFolder(BuildFolder() + L"paste-save\\");
  EXPECT_EQ(SaveAsNewFile(folder, [](IStream*) { return false; }), L"");
  EXPECT_EQ(FilesIn(folder, L"").size(), 0u);
  const std::wstring taken = folder + L"Screenshot_taken.png";
  std::ofstream(std::filesystem::path(taken), std::ios::binary) << "keep";
  int chosen = 0;  // the name is taken between its choice and the rename, once
  const std::wstring path = SaveAsNewFile(
      folder,
      [&](IStream* file) {
        const std::vector<std::wstring> writing = FilesIn(folder, L"~");
        EXPECT_TRUE(writing.size() == 1 &&
                    GetFileAttributesW((folder + writing[0]).c_str()) & FILE_ATTRIBUTE_HIDDEN);
        ULONG written = 0;
        return SUCCEEDED(file->Write("new", 3, &written));
      },
      [&](const std::wstring&) { return ++chosen == 1 ? taken : ChooseOutputPath(folder); });
  EXPECT_EQ(ReadBytes(taken), "keep");
  EXPECT_EQ(ReadBytes(path), "new");
  EXPECT_EQ(FilesIn(folder, L"").size(), 2u);

  // A program holds the written file without delete sharing (an antivirus, a sync client): held
  // across the first rename attempts, the file is saved with its other attributes and no hidden
  // bit (system stands for them: Wine stores hidden and system, and reports archive always);
  // held through all of them, nothing visible is left and the folder holds one hidden file.
  for (const DWORD heldMs : {300, 2500}) {
    std::thread release;
    const std::wstring saved = SaveAsNewFile(folder, [&](IStream* file) {
      const std::wstring writing = folder + FilesIn(folder, L"~")[0];
      SetFileAttributesW(writing.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
      const HANDLE held =
          CreateFileW(writing.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
      release = std::thread([=] { Sleep(heldMs), CloseHandle(held); });
      ULONG written = 0;
      return held != INVALID_HANDLE_VALUE && SUCCEEDED(file->Write("held", 4, &written));
    });
    if (heldMs < 1000) {
      EXPECT_EQ(ReadBytes(saved), "held");
      EXPECT_EQ(GetFileAttributesW(saved.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
                DWORD(FILE_ATTRIBUTE_SYSTEM));
    } else {
      EXPECT_EQ(saved, L"");
      const std::vector<std::wstring> left = FilesIn(folder, L"~");
      EXPECT_EQ(FilesIn(folder, L"").size(), 4u);
      EXPECT_TRUE(left.size() == 1 &&
                  GetFileAttributesW((folder + left[0]).c_str()) & FILE_ATTRIBUTE_HIDDEN);
    }
    release.join();
  }
}

// The byte rules over another program's bytes that end where readable memory ends: a read past
// the data faults at once instead of passing unseen.
TEST(ByteRules, ReadNothingPastTheData) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const size_t page = system.dwPageSize;
  auto* pages = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD old = 0;
  ASSERT_TRUE(pages && VirtualProtect(pages + page, page, PAGE_NOACCESS, &old));
  auto atEnd = [&](const std::string& bytes) {
    uint8_t* at = pages + page - bytes.size();
    memcpy(at, bytes.data(), bytes.size());
    return at;
  };
  // A PNG whose last chunk claims more bytes than there are, or is cut inside its CRC.
  const std::string signature = "\x89PNG\r\n\x1A\n", ihdr = std::string("\0\0\0\x0DIHDR", 8);
  for (const std::string& png :
       {signature + ihdr + std::string(13, '\1'), signature + ihdr + std::string(15, '\1'),
        signature + std::string("\x7F\xFF\xFF\xF0IDAT", 8)}) {
    EXPECT_EQ(WholePngLength(atEnd(png), png.size()), 0u) << png.size();
  }
  // DIB headers whose tables, masks or rows would lie past the data.
  const BITMAPINFOHEADER colours = {sizeof(colours), 2, 2, 1, 8, BI_RGB};
  const BITMAPINFOHEADER masks = {sizeof(masks), 2, 2, 1, 32, BI_BITFIELDS};
  const BITMAPINFOHEADER rows = {sizeof(rows), 2, 2, 1, 32, BI_RGB};
  for (const BITMAPINFOHEADER& header : {colours, masks, rows}) {
    const std::string dib((const char*)&header, sizeof(header));
    DibLayout layout;
    EXPECT_NE(ReadDibLayout(atEnd(dib), dib.size(), layout), DibVerdict::Readable);
  }
  VirtualFree(pages, 0, MEM_RELEASE);

  // A 1-bit DIB all there, small in bytes and past WIC's 32-bit sizes in pixels (the pages stay
  // untouched, so they cost nothing).
  const BITMAPINFOHEADER huge = {sizeof(huge), 32768, 32769, 1, 1, BI_RGB};
  const uint64_t bytes = sizeof(huge) + 8 + 4096ull * 32769;
  auto* dib =
      static_cast<uint8_t*>(VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_TRUE(dib);
  memcpy(dib, &huge, sizeof(huge));
  DibLayout layout;
  EXPECT_EQ(ReadDibLayout(dib, bytes, layout), DibVerdict::Malformed);
  VirtualFree(dib, 0, MEM_RELEASE);
}

}  // namespace
