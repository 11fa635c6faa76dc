#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <set>

#include "app/app_state.h"
#include "paste/paste_operation.h"
#include "tests/paste/paste_test_support.h"

namespace {

struct Balloon {
  std::wstring title;
  std::wstring text;
  DWORD icon;
};

class PasteOperation : public testing::Test {
 protected:
  void SetUp() override {
    AppState.hiddenWindow = CreateMessageOnlyWindow();
    desktopWindow_ = CreateTopLevelWindow(L"Progman");
    ASSERT_TRUE(AppState.hiddenWindow && desktopWindow_);
    PWSTR path = nullptr;
    ASSERT_HRESULT_SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &path));
    desktop_ = path;
    CoTaskMemFree(path);
    CreateDirectoryW(desktop_.c_str(), nullptr);
    for (const std::wstring& name : Screenshots()) before_.insert(name);
  }

  void TearDown() override {
    for (const std::wstring& name : Screenshots()) {
      if (!before_.count(name)) DeleteFileW((desktop_ + L"\\" + name).c_str());
    }
    DestroyWindow(desktopWindow_);
    DestroyWindow(AppState.hiddenWindow);
    AppState.hiddenWindow = nullptr;
  }

  std::vector<std::wstring> Screenshots() const { return FilesIn(desktop_, L"Screenshot_*.png"); }

  std::vector<std::wstring> NewScreenshots() const {
    std::vector<std::wstring> created;
    for (const std::wstring& name : Screenshots()) {
      if (!before_.count(name)) created.push_back(name);
    }
    return created;
  }

  bool Paste(HWND target) {
    balloons_.clear();
    return PasteIntoFolder(target,
                           [this](const wchar_t* title, const std::wstring& text, DWORD icon) {
                             balloons_.push_back({title, text, icon});
                           });
  }

  void ExpectOnlyBalloon(const std::wstring& title, const std::wstring& text, DWORD icon) {
    ASSERT_EQ(balloons_.size(), 1u);
    EXPECT_EQ(balloons_[0].title, title);
    EXPECT_EQ(balloons_[0].text, text);
    EXPECT_EQ(balloons_[0].icon, icon);
  }

  HWND desktopWindow_ = nullptr;
  std::wstring desktop_;
  std::set<std::wstring> before_;
  std::vector<Balloon> balloons_;
};

// Points the user's Desktop folder elsewhere for one test, and back again.
class DesktopRedirect {
 public:
  explicit DesktopRedirect(const std::wstring& folder) {
    RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_);
    if (!key_) return;
    DWORD size = sizeof(old_);
    had_ = RegQueryValueExW(key_, L"Desktop", nullptr, &type_, reinterpret_cast<BYTE*>(old_),
                            &size) == ERROR_SUCCESS;
    RegSetValueExW(key_, L"Desktop", 0, REG_EXPAND_SZ,
                   reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  }
  ~DesktopRedirect() {
    if (!key_) return;
    if (had_) {
      RegSetValueExW(key_, L"Desktop", 0, type_, reinterpret_cast<const BYTE*>(old_),
                     static_cast<DWORD>((wcslen(old_) + 1) * sizeof(wchar_t)));
    } else {
      RegDeleteValueW(key_, L"Desktop");
    }
    RegCloseKey(key_);
  }

 private:
  static constexpr const wchar_t* kKey =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  HKEY key_ = nullptr;
  bool had_ = false;
  DWORD type_ = REG_EXPAND_SZ;
  wchar_t old_[MAX_PATH * 2] = {};
};

std::wstring KnownDesktop() {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &path))) result = path;
  CoTaskMemFree(path);
  return result;
}

}  // namespace

TEST_F(PasteOperation, SavesTheClipboardImageIntoTheDesktopFolder) {
  Image image = PatternImage(50, 30);
  ASSERT_TRUE(PutDibOnClipboard(AppState.hiddenWindow, image, false));
  EXPECT_TRUE(Paste(desktopWindow_));

  std::vector<std::wstring> created = NewScreenshots();
  ASSERT_EQ(created.size(), 1u);
  ExpectOnlyBalloon(L"已保存图片", created[0], NIIF_INFO);
  Image saved = DecodePngWithWic(desktop_ + L"\\" + created[0]);
  ASSERT_EQ(saved.width, 50);
  ASSERT_EQ(saved.height, 30);
  Image expected = WithoutAlpha(image);
  for (uint32_t& p : expected.pixels) p |= 0xFF000000u;
  EXPECT_TRUE(saved.pixels == expected.pixels);
  // The clipboard is read, never changed.
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_DIB));
}

TEST_F(PasteOperation, SecondPasteInTheSameSecondGetsTheNumberedName) {
  ASSERT_TRUE(PutDibOnClipboard(AppState.hiddenWindow, PatternImage(8, 8), false));
  bool sameSecond = false;
  for (int attempt = 0; attempt < 5 && !sameSecond; ++attempt) {
    ASSERT_TRUE(Paste(desktopWindow_));
    ASSERT_EQ(balloons_.size(), 1u);
    std::wstring first = balloons_[0].text;
    ASSERT_TRUE(Paste(desktopWindow_));
    ASSERT_EQ(balloons_.size(), 1u);
    std::wstring second = balloons_[0].text;
    // Screenshot_yyyyMMdd_HHmmss: 26 characters; a turn of the second starts afresh.
    if (first.size() == 30 && second.compare(0, 26, first, 0, 26) == 0) {
      sameSecond = true;
      EXPECT_EQ(second, first.substr(0, 26) + L"_2.png");
      EXPECT_TRUE(FileExists(desktop_ + L"\\" + first));
      EXPECT_TRUE(FileExists(desktop_ + L"\\" + second));
    }
  }
  EXPECT_TRUE(sameSecond) << "no two pastes fell into one second";
}

TEST_F(PasteOperation, UnresolvedFolderWarnsBeforeTheClipboardIsLookedAt) {
  ASSERT_TRUE(PutTextOnClipboard(AppState.hiddenWindow, L"no image"));
  EXPECT_FALSE(Paste(nullptr));
  ExpectOnlyBalloon(L"Dropleaf", L"无法获取当前文件夹路径。", NIIF_WARNING);

  // An Explorer frame that no shell window lists: the same warning, whatever the
  // clipboard holds.
  ASSERT_TRUE(PutDibOnClipboard(AppState.hiddenWindow, PatternImage(4, 4), false));
  HWND cabinet = CreateTopLevelWindow(L"CabinetWClass");
  ASSERT_NE(cabinet, nullptr);
  EXPECT_FALSE(Paste(cabinet));
  DestroyWindow(cabinet);
  ExpectOnlyBalloon(L"Dropleaf", L"无法获取当前文件夹路径。", NIIF_WARNING);
  EXPECT_TRUE(NewScreenshots().empty());
}

TEST_F(PasteOperation, NoImageOnTheClipboardWarns) {
  ASSERT_TRUE(PutTextOnClipboard(AppState.hiddenWindow, L"only text"));
  EXPECT_FALSE(Paste(desktopWindow_));
  ExpectOnlyBalloon(L"Dropleaf", L"剪贴板中没有可保存的图片。", NIIF_WARNING);
  EXPECT_TRUE(NewScreenshots().empty());
}

TEST_F(PasteOperation, UnwritableFolderGivesTheSaveError) {
  std::wstring locked = BuildFolder() + L"paste-locked";
  std::wstring probe = locked + L"\\probe";
  HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    DeleteFileW(probe.c_str());
    GTEST_SKIP() << "paste-locked is not write-protected here";
  }
  ASSERT_TRUE(FileExists(locked));
  ASSERT_TRUE(PutDibOnClipboard(AppState.hiddenWindow, PatternImage(8, 8), false));
  {
    DesktopRedirect redirect(locked);
    ASSERT_EQ(KnownDesktop(), locked);
    EXPECT_FALSE(Paste(desktopWindow_));
  }
  EXPECT_EQ(KnownDesktop(), desktop_);
  ExpectOnlyBalloon(L"Dropleaf", L"图片保存失败，请检查文件夹写入权限。", NIIF_ERROR);
  EXPECT_TRUE(FilesIn(locked, L"*").empty());
}
