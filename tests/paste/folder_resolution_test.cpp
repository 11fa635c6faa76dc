#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "paste/folder_resolution.h"
#include "tests/paste/paste_test_support.h"

namespace {

HWND Frame(uintptr_t n) { return reinterpret_cast<HWND>(n); }

// A shell that only knows the entries and directories it is given, and counts its use.
struct FakeShell {
  std::vector<ShellWindowEntry> entries;
  std::vector<std::wstring> directories;
  int listed = 0;
  int desktopAsked = 0;

  FolderLookup Lookup() {
    return FolderLookup{[this] {
                          ++desktopAsked;
                          return std::wstring(L"C:\\Users\\me\\Desktop");
                        },
                        [this] {
                          ++listed;
                          return entries;
                        },
                        [](const std::wstring& url) {
                          const std::wstring scheme = L"file:///";
                          return url.rfind(scheme, 0) == 0 ? url.substr(scheme.size())
                                                           : std::wstring();
                        },
                        [this](const std::wstring& path) {
                          for (const std::wstring& d : directories) {
                            if (d == path) return true;
                          }
                          return false;
                        }};
  }
};

}  // namespace

TEST(FolderChoice, NullWindowAsksNothing) {
  FakeShell shell;
  shell.entries = {{nullptr, L"file:///C:\\x"}};
  shell.directories = {L"C:\\x"};
  EXPECT_EQ(ChooseFolderForWindow(nullptr, false, shell.Lookup()), L"");
  EXPECT_EQ(ChooseFolderForWindow(nullptr, true, shell.Lookup()), L"");
  EXPECT_EQ(shell.listed + shell.desktopAsked, 0);
}

TEST(FolderChoice, DesktopIsTheKnownFolderWhateverTheShellLists) {
  FakeShell shell;
  shell.entries = {{Frame(10), L"file:///C:\\other"}};
  shell.directories = {L"C:\\other"};
  EXPECT_EQ(ChooseFolderForWindow(Frame(10), true, shell.Lookup()), L"C:\\Users\\me\\Desktop");
  EXPECT_EQ(shell.listed, 0);
}

TEST(FolderChoice, FirstEntryOfTheExactFrameWithAnExistingDirectoryWins) {
  FakeShell shell;
  shell.entries = {
      {Frame(11), L"file:///C:\\neighbour"},  // another frame
      {Frame(10), L""},                       // no location
      {Frame(10), L"shell:::{20D04FE0}"},     // not a file URL
      {Frame(10), L"file:///C:\\gone"},       // deleted while shown
      {Frame(10), L"file:///C:\\tab2"},
      {Frame(10), L"file:///C:\\tab3"},
  };
  shell.directories = {L"C:\\neighbour", L"C:\\tab2", L"C:\\tab3"};
  EXPECT_EQ(ChooseFolderForWindow(Frame(10), false, shell.Lookup()), L"C:\\tab2");
  EXPECT_EQ(ChooseFolderForWindow(Frame(11), false, shell.Lookup()), L"C:\\neighbour");
  EXPECT_EQ(shell.desktopAsked, 0);
}

TEST(FolderChoice, NoQualifyingEntryGivesEmpty) {
  FakeShell shell;
  shell.entries = {{Frame(10), L"file:///C:\\gone"}, {Frame(12), L"file:///C:\\there"}};
  shell.directories = {L"C:\\there"};
  EXPECT_EQ(ChooseFolderForWindow(Frame(10), false, shell.Lookup()), L"");
  // A window that closed after the keystroke has no entry at all.
  EXPECT_EQ(ChooseFolderForWindow(Frame(99), false, shell.Lookup()), L"");
  shell.entries.clear();
  EXPECT_EQ(ChooseFolderForWindow(Frame(12), false, shell.Lookup()), L"");
}

TEST(FileUrl, ConvertsFileUrlsAndRejectsTheRest) {
  EXPECT_EQ(FileUrlToPath(L"file:///C:/Users/me/Pictures"), L"C:\\Users\\me\\Pictures");
  EXPECT_EQ(FileUrlToPath(L"file:///C:/My%20Shots/"), L"C:\\My Shots\\");
  EXPECT_EQ(FileUrlToPath(L""), L"");
  EXPECT_EQ(FileUrlToPath(L"http://example.invalid/x"), L"");
}

TEST(FolderResolution, RealPlatformPaths) {
  EXPECT_EQ(ResolveFolderForWindow(nullptr), L"");

  PWSTR desktop = nullptr;
  ASSERT_HRESULT_SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &desktop));
  std::wstring expected = desktop;
  CoTaskMemFree(desktop);
  HWND progman = CreateTopLevelWindow(L"Progman");
  HWND worker = CreateTopLevelWindow(L"WorkerW");
  ASSERT_TRUE(progman && worker);
  EXPECT_EQ(ResolveFolderForWindow(progman), expected);
  EXPECT_EQ(ResolveFolderForWindow(worker), expected);

  // An Explorer frame that no shell window lists (or no shell-windows collection at all,
  // as in a bare Wine prefix) is not resolved.
  HWND cabinet = CreateTopLevelWindow(L"CabinetWClass");
  ASSERT_TRUE(cabinet);
  EXPECT_EQ(ResolveFolderForWindow(cabinet), L"");
  DestroyWindow(cabinet);
  DestroyWindow(worker);
  DestroyWindow(progman);
}
