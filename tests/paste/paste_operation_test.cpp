#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "app/app_state.h"
#include "paste/paste_operation.h"
#include "paste/reveal.h"
#include "tests/paste/paste_test_support.h"

namespace {

const wchar_t kFolderWarning[] = L"无法获取当前文件夹路径。";

std::wstring Balloon(const std::wstring& title, const std::wstring& text, DWORD icon) {
  return title + L" | " + text + L" | " + std::to_wstring(icon);
}

// Points the user's Desktop folder elsewhere for one test, and back again.
struct DesktopRedirect {
  static constexpr const wchar_t* kKey =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  explicit DesktopRedirect(const std::wstring& folder) {
    had = RegGetValueW(HKEY_CURRENT_USER, kKey, L"Desktop",
                       RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, old,
                       &size) == ERROR_SUCCESS;
    Set(REG_EXPAND_SZ, folder.c_str());
  }
  ~DesktopRedirect() {
    had ? Set(type, old) : RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"Desktop");
  }
  static LSTATUS Set(DWORD type, const wchar_t* value) {
    return RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"Desktop", type, value,
                           static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  }
  DWORD type = REG_EXPAND_SZ, size = sizeof(old);
  wchar_t old[MAX_PATH * 2] = {};
  bool had = false;
};

class PasteOperation : public testing::Test {
 protected:
  void SetUp() override {
    AppState.hiddenWindow = CreateMessageOnlyWindow();
    desktopWindow_ = CreateTestWindow(L"Progman");
    ASSERT_TRUE(AppState.hiddenWindow && desktopWindow_);
    desktop_ = KnownDesktop();
    CreateDirectoryW(desktop_.c_str(), nullptr);
    before_ = NewScreenshots();
  }
  void TearDown() override {
    for (const std::wstring& name : NewScreenshots())
      DeleteFileW((desktop_ + L"\\" + name).c_str());
    DestroyWindow(desktopWindow_);
    DestroyWindow(AppState.hiddenWindow);
    AppState.hiddenWindow = nullptr;
  }
  std::vector<std::wstring> NewScreenshots() const {
    std::vector<std::wstring> created;
    for (const std::wstring& name : FilesIn(desktop_, L"Screenshot_", L".png")) {
      if (std::find(before_.begin(), before_.end(), name) == before_.end()) created.push_back(name);
    }
    return created;
  }
  bool Paste(HWND target) {
    balloons_.clear();
    return PasteIntoFolder(target,
                           [this](const wchar_t* title, const std::wstring& text, DWORD icon) {
                             balloons_.push_back(Balloon(title, lastText_ = text, icon));
                           });
  }

  HWND desktopWindow_ = nullptr;
  std::wstring desktop_, lastText_;
  std::vector<std::wstring> before_, balloons_;
};

}  // namespace

TEST_F(PasteOperation, SavesTheClipboardImageIntoTheDesktopFolder) {
  Image image = PatternImage(50, 30);
  ASSERT_TRUE(PutDibOnClipboard(AppState.hiddenWindow, image, false));
  EXPECT_TRUE(Paste(desktopWindow_));

  std::vector<std::wstring> created = NewScreenshots();
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(balloons_, std::vector<std::wstring>{Balloon(L"已保存图片", created[0], NIIF_INFO)});
  Image saved = DecodePngWithWic(desktop_ + L"\\" + created[0]);
  ASSERT_EQ(saved.width, 50);
  ASSERT_EQ(saved.height, 30);
  EXPECT_TRUE(saved.pixels == WithAlpha(image, 0xFF).pixels);
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_DIB)) << "the clipboard is read, never changed";
}

TEST_F(PasteOperation, SecondPasteInTheSameSecondGetsTheNumberedName) {
  ASSERT_TRUE(PutDibOnClipboard(AppState.hiddenWindow, PatternImage(8, 8), false));
  HWND worker = CreateTestWindow(L"WorkerW");  // the desktop's other window class
  bool sameSecond = false;
  for (int attempt = 0; attempt < 5 && !sameSecond; ++attempt) {
    ASSERT_TRUE(Paste(desktopWindow_));
    std::wstring first = lastText_;
    ASSERT_TRUE(Paste(worker));
    std::wstring second = lastText_;
    // Screenshot_yyyyMMdd_HHmmss: 26 characters; a turn of the second starts afresh.
    if (first.size() == 30 && second.compare(0, 26, first, 0, 26) == 0) {
      sameSecond = true;
      EXPECT_EQ(second, first.substr(0, 26) + L"_2.png");
      EXPECT_TRUE(FileExists(desktop_ + L"\\" + first));
      EXPECT_TRUE(FileExists(desktop_ + L"\\" + second));
    }
  }
  DestroyWindow(worker);
  EXPECT_TRUE(sameSecond) << "no two pastes fell into one second";
}

TEST_F(PasteOperation, WarningsForAnUnresolvedFolderAndForNoImage) {
  // The folder is resolved before the clipboard is looked at; an Explorer frame that no
  // shell window lists is not resolved.
  HWND cabinet = CreateTestWindow(L"CabinetWClass");
  ASSERT_NE(cabinet, nullptr);
  struct {
    bool image;
    HWND target;
    const wchar_t* text;
  } rows[] = {{false, nullptr, kFolderWarning},
              {true, cabinet, kFolderWarning},
              {false, desktopWindow_, L"剪贴板中没有可保存的图片。"}};
  for (const auto& row : rows) {
    ASSERT_TRUE(row.image ? PutDibOnClipboard(AppState.hiddenWindow, PatternImage(4, 4), false)
                          : PutTextOnClipboard(AppState.hiddenWindow, L"no image"));
    EXPECT_FALSE(Paste(row.target));
    EXPECT_EQ(balloons_, std::vector<std::wstring>{Balloon(L"Dropleaf", row.text, NIIF_WARNING)});
  }
  DestroyWindow(cabinet);
  EXPECT_TRUE(NewScreenshots().empty());
}

TEST_F(PasteOperation, UnwritableFolderGivesTheSaveError) {
  std::wstring locked = LockedFolder();
  if (locked.empty()) GTEST_SKIP() << "paste-locked is not write-protected here";
  ASSERT_TRUE(PutDibOnClipboard(AppState.hiddenWindow, PatternImage(8, 8), false));
  {
    DesktopRedirect redirect(locked);
    ASSERT_EQ(KnownDesktop(), locked);
    EXPECT_FALSE(Paste(desktopWindow_));
  }
  EXPECT_EQ(KnownDesktop(), desktop_);
  EXPECT_EQ(balloons_, std::vector<std::wstring>{Balloon(
                           L"Dropleaf", L"图片保存失败，请检查文件夹写入权限。", NIIF_ERROR)});
  EXPECT_TRUE(FilesIn(locked).empty());
}

namespace {

constexpr UINT kShellNotice = WM_APP + 77;
std::vector<std::pair<LONG, std::wstring>> shellNotices;

LRESULT CALLBACK NoticeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kShellNotice) return DefWindowProcW(window, message, wParam, lParam);
  auto** lists = reinterpret_cast<PIDLIST_ABSOLUTE*>(wParam);
  wchar_t path[MAX_PATH] = {};
  if (lists && lists[0]) SHGetPathFromIDListW(lists[0], path);
  shellNotices.push_back({static_cast<LONG>(lParam), path});
  return 0;
}

}  // namespace

TEST(RevealSavedFile, AnnouncesTheNewFileAndLeavesTheDesktopAlone) {
  std::wstring dir = MakeCleanFolder(L"paste-reveal");
  std::wstring path = dir + L"\\Screenshot_20250314_091502.png";
  ASSERT_TRUE(WriteBytes(path, "", 0));
  HWND listener = CreateTestWindow(L"Dropleaf.PasteTests.Notices", HWND_MESSAGE, NoticeProc);
  ASSERT_NE(listener, nullptr);
  PIDLIST_ABSOLUTE watched = nullptr;
  ASSERT_HRESULT_SUCCEEDED(SHParseDisplayName(dir.c_str(), nullptr, &watched, 0, nullptr));
  SHChangeNotifyEntry entry = {watched, TRUE};
  ULONG registration = SHChangeNotifyRegister(listener, SHCNRF_ShellLevel | SHCNRF_InterruptLevel,
                                              SHCNE_CREATE, kShellNotice, 1, &entry);
  ASSERT_NE(registration, 0u);

  shellNotices.clear();
  HWND desktop = CreateTestWindow(L"Progman");
  RevealSavedFile(desktop, path);
  HWND closed = CreateTestWindow(L"CabinetWClass");
  DestroyWindow(closed);
  RevealSavedFile(closed, path);
  for (int i = 0; i < 50 && shellNotices.size() < 2; ++i) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(10);
  }
  SHChangeNotifyDeregister(registration);
  DestroyWindow(listener);
  DestroyWindow(desktop);
  ILFree(watched);
  DeleteFileW(path.c_str());

  // One SHCNE_CREATE per call, for the desktop and for a window that has gone alike.
  ASSERT_EQ(shellNotices.size(), 2u);
  for (const auto& notice : shellNotices) {
    EXPECT_EQ(notice.first, SHCNE_CREATE);
    EXPECT_EQ(lstrcmpiW(notice.second.c_str(), path.c_str()), 0);
  }
}
