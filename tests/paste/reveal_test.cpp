#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "paste/reveal.h"
#include "tests/paste/paste_test_support.h"

namespace {

HWND Frame(uintptr_t n) { return reinterpret_cast<HWND>(n); }

// Folders stand for themselves: stand-in lists compared by the number they carry.
PCIDLIST_ABSOLUTE ListNo(uintptr_t n) { return reinterpret_cast<PCIDLIST_ABSOLUTE>(n); }

ItemIdListsEqual SameNumber(int* calls) {
  return [calls](PCIDLIST_ABSOLUTE a, PCIDLIST_ABSOLUTE b) {
    ++*calls;
    return a == b;
  };
}

}  // namespace

TEST(RevealMatch, FirstEntryOfTheFrameShowingTheFolder) {
  int calls = 0;
  std::vector<RevealEntry> entries = {
      {Frame(2), ListNo(100)},  // another window on the same folder
      {Frame(1), nullptr},      // view not readable
      {Frame(1), ListNo(200)},  // tab on another folder
      {Frame(1), ListNo(100)}, {Frame(1), ListNo(100)},
  };
  EXPECT_EQ(FindRevealEntry(Frame(1), entries, ListNo(100), SameNumber(&calls)), 3);
  EXPECT_EQ(calls, 2);  // neither the other frame nor the unreadable view is compared
  EXPECT_EQ(FindRevealEntry(Frame(2), entries, ListNo(100), SameNumber(&calls)), 0);
}

TEST(RevealMatch, NoMatchWhenTheWindowMovedOrClosed) {
  int calls = 0;
  std::vector<RevealEntry> entries = {{Frame(1), ListNo(200)}, {Frame(3), ListNo(100)}};
  EXPECT_EQ(FindRevealEntry(Frame(1), entries, ListNo(100), SameNumber(&calls)), -1);
  EXPECT_EQ(FindRevealEntry(Frame(9), entries, ListNo(100), SameNumber(&calls)), -1);
  EXPECT_EQ(FindRevealEntry(Frame(1), {}, ListNo(100), SameNumber(&calls)), -1);
}

TEST(RevealMatch, RealItemIdListsCompareByContent) {
  // The equality the platform layer injects, over lists the shell parses twice.
  std::wstring dir = MakeCleanFolder(L"paste-reveal");
  PIDLIST_ABSOLUTE a = nullptr;
  PIDLIST_ABSOLUTE b = nullptr;
  PIDLIST_ABSOLUTE other = nullptr;
  ASSERT_HRESULT_SUCCEEDED(SHParseDisplayName(dir.c_str(), nullptr, &a, 0, nullptr));
  ASSERT_HRESULT_SUCCEEDED(SHParseDisplayName(dir.c_str(), nullptr, &b, 0, nullptr));
  ASSERT_HRESULT_SUCCEEDED(SHParseDisplayName(BuildFolder().c_str(), nullptr, &other, 0, nullptr));
  auto equal = [](PCIDLIST_ABSOLUTE x, PCIDLIST_ABSOLUTE y) { return ILIsEqual(x, y) != FALSE; };
  std::vector<RevealEntry> entries = {{Frame(1), other}, {Frame(1), b}};
  EXPECT_EQ(FindRevealEntry(Frame(1), entries, a, equal), 1);
  ILFree(a);
  ILFree(b);
  ILFree(other);
}

namespace {

constexpr UINT kShellNotice = WM_APP + 77;

// Collects the shell's change notifications delivered to a window of this thread.
struct ShellNotices {
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kShellNotice) {
      auto* self = reinterpret_cast<ShellNotices*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      auto** lists = reinterpret_cast<PIDLIST_ABSOLUTE*>(wParam);
      wchar_t path[MAX_PATH] = {};
      if (lists && lists[0]) SHGetPathFromIDListW(lists[0], path);
      self->received.push_back({static_cast<LONG>(lParam), path});
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }
  std::vector<std::pair<LONG, std::wstring>> received;
};

}  // namespace

TEST(RevealSavedFile, AnnouncesTheNewFileAndLeavesTheDesktopAlone) {
  std::wstring dir = MakeCleanFolder(L"paste-reveal");
  std::wstring path = dir + L"\\Screenshot_20250314_091502.png";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);

  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = ShellNotices::Proc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"Dropleaf.PasteTests.Notices";
  RegisterClassW(&windowClass);
  ShellNotices notices;
  HWND listener = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, windowClass.hInstance, nullptr);
  ASSERT_NE(listener, nullptr);
  SetWindowLongPtrW(listener, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&notices));
  PIDLIST_ABSOLUTE watched = nullptr;
  ASSERT_HRESULT_SUCCEEDED(SHParseDisplayName(dir.c_str(), nullptr, &watched, 0, nullptr));
  SHChangeNotifyEntry entry = {watched, TRUE};
  ULONG registration = SHChangeNotifyRegister(listener, SHCNRF_ShellLevel | SHCNRF_InterruptLevel,
                                              SHCNE_CREATE, kShellNotice, 1, &entry);
  ASSERT_NE(registration, 0u);

  HWND desktop = CreateTopLevelWindow(L"Progman");
  RevealSavedFile(desktop, path);
  HWND closed = CreateTopLevelWindow(L"CabinetWClass");
  DestroyWindow(closed);
  RevealSavedFile(closed, path);
  for (int i = 0; i < 50 && notices.received.size() < 2; ++i) {
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
  ASSERT_EQ(notices.received.size(), 2u);
  for (const auto& notice : notices.received) {
    EXPECT_EQ(notice.first, SHCNE_CREATE);
    EXPECT_EQ(lstrcmpiW(notice.second.c_str(), path.c_str()), 0);
  }
}
