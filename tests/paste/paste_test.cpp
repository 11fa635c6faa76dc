#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <list>

#include "core/app_state.h"
#include "paste/output_naming.h"
#include "paste/paste_operation.h"
#include "paste/png_encoder.h"
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
    PasteIntoFolder(target, [&](const wchar_t* title, const std::wstring& text, DWORD icon) {
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
    HandlePasteRequest(frame.Get(), report);
    EXPECT_TRUE(balloons.empty()) << "the second paste ran inside the first";
  };
  FakeShellWindows shell(entries);
  HandlePasteRequest(frame.Get(), report);
  const std::vector<std::wstring> files = FilesIn(a, L"Screenshot_");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(balloons, (std::vector<std::wstring>{kSaved + files[0], kSaved + files[1]}));
}

// A sign-out's WM_ENDSESSION, sent while the selection waits on Explorer, runs the teardown
// inside that call: the paste stops there (its file stays whole), the request queued behind it
// is dropped, and the refused selection is not tried again on a timer after the teardown.
TEST_F(Paste, ATeardownDuringTheSelectionEndsThePasteThere) {
  std::vector<std::wstring> balloons;
  const PasteReport report = [&](const wchar_t* title, const std::wstring& text, DWORD) {
    balloons.push_back(title + (L" | " + text));
  };
  std::vector<FakeShellEntry> entries = {{frame.Get(), nullptr, a}};
  entries[0].refusedSelects = 3;
  entries[0].onSelect = [&] {
    HandlePasteRequest(frame.Get(), report);  // typed meanwhile: waits for its turn
    StopPasting();
  };
  FakeShellWindows shell(entries);
  HandlePasteRequest(frame.Get(), report);
  PumpMessagesFor(1000);  // the retries would have come 200 ms apart
  AppState.teardownBegun.exchange(false);
  EXPECT_EQ(entries[0].refusedSelects, 2) << "one selection, no retry after the teardown";
  const std::wstring name = SavedImageIn(a);
  EXPECT_EQ(balloons, std::vector<std::wstring>{kSaved + name}) << "the queued paste is dropped";
}

TEST(SaveRules, TheNameComesFromTheLocalTimeAndAFileUnderItIsNeverOverwritten) {
  const SYSTEMTIME time = {2025, 3, 5, 14, 9, 15, 2, 0};  // Friday 2025-03-14 09:15:02
  auto plainTaken = [](const std::wstring& path) {
    return path == L"C:\\Screenshot_20250314_091502.png";
  };
  EXPECT_EQ(ChooseOutputPathAt(L"C:\\", time, plainTaken), L"C:\\Screenshot_20250314_091502_2.png");
  EXPECT_EQ(ChooseOutputPathAt(L"C:\\x", time, plainTaken),
            L"C:\\x\\Screenshot_20250314_091502.png");

  const std::wstring taken = BuildFolder() + L"paste-taken.png";
  std::ofstream(std::filesystem::path(taken), std::ios::binary) << "keep";
  HBITMAP bitmap = CreateBitmap(4, 4, 1, 32, nullptr);
  EXPECT_FALSE(EncodePngFile(bitmap, taken));
  DeleteObject(bitmap);
  EXPECT_EQ(ReadBytes(taken), "keep");
  DeleteFileW(taken.c_str());
}

}  // namespace
