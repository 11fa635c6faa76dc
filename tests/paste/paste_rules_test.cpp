// The rules that stand apart from the platform, run over plain inputs.
#include <gtest/gtest.h>

#include <set>

#include "paste/folder_resolution.h"
#include "paste/output_naming.h"
#include "paste/reveal.h"
#include "tests/paste/paste_test_support.h"

namespace {

SYSTEMTIME At(WORD hour, WORD minute, WORD second, WORD year = 2025, WORD month = 3,
              WORD day = 14) {
  return SYSTEMTIME{year, month, 0, day, hour, minute, second, 987};
}

// A folder as a set of taken names, every question recorded.
struct FakeFolder {
  std::set<std::wstring> taken;
  std::vector<std::wstring> asked;
  std::wstring Choose(const std::wstring& dir, const SYSTEMTIME& time) {
    return ChooseOutputPathAt(dir, time, [this](const std::wstring& path) {
      asked.push_back(path);
      return taken.count(path) != 0;
    });
  }
};

HWND Frame(uintptr_t n) { return reinterpret_cast<HWND>(n); }

}  // namespace

TEST(OutputNaming, TimeStampedNameAndCollisionsInOneSecond) {
  struct {
    const wchar_t* dir;
    SYSTEMTIME time;
    const wchar_t* expected;
  } rows[] = {
      {L"C:\\Users\\me\\Pictures", At(9, 15, 2),
       L"C:\\Users\\me\\Pictures\\Screenshot_20250314_091502.png"},
      {L"C:\\", At(9, 15, 2), L"C:\\Screenshot_20250314_091502.png"},
      {L"D:\\shots\\", At(23, 59, 59, 1999, 12, 31), L"D:\\shots\\Screenshot_19991231_235959.png"},
  };
  for (const auto& row : rows) EXPECT_EQ(FakeFolder().Choose(row.dir, row.time), row.expected);

  FakeFolder folder;
  for (const wchar_t* suffix : {L"", L"_2", L"_3"}) {
    std::wstring path = folder.Choose(L"C:\\d", At(9, 15, 2));
    EXPECT_EQ(path, L"C:\\d\\Screenshot_20250314_091502" + std::wstring(suffix) + L".png");
    folder.taken.insert(path);
  }
  // The next second starts from the plain name again.
  EXPECT_EQ(folder.Choose(L"C:\\d", At(9, 15, 3)), L"C:\\d\\Screenshot_20250314_091503.png");
}

TEST(OutputNaming, AllNineThousandNineHundredNinetyNineTakenGivesEmpty) {
  FakeFolder folder;
  const std::wstring stem = L"C:\\d\\Screenshot_20250314_091502";
  folder.taken.insert(stem + L".png");
  for (int n = 2; n <= 9998; ++n) folder.taken.insert(stem + L"_" + std::to_wstring(n) + L".png");
  EXPECT_EQ(folder.Choose(L"C:\\d", At(9, 15, 2)), stem + L"_9999.png");

  folder.taken.insert(stem + L"_9999.png");
  folder.asked.clear();
  EXPECT_EQ(folder.Choose(L"C:\\d", At(9, 15, 2)), L"");
  ASSERT_EQ(folder.asked.size(), 9999u);
  EXPECT_EQ(folder.asked.front(), stem + L".png");
  EXPECT_EQ(folder.asked[1], stem + L"_2.png");
  EXPECT_EQ(folder.asked.back(), stem + L"_9999.png");
}

TEST(OutputNaming, OnDiskADirectoryTakesANameLikeAFile) {
  std::wstring dir = MakeCleanFolder(L"paste-naming");
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::wstring first = ChooseOutputPathAt(dir, now, FileExists);
  ASSERT_FALSE(first.empty());
  ASSERT_TRUE(CreateDirectoryW(first.c_str(), nullptr));
  std::wstring second = ChooseOutputPath(dir);
  RemoveDirectoryW(first.c_str());
  // The wrapper reads the clock itself; if the second turned meanwhile, the new plain name.
  std::wstring numbered = first.substr(0, first.size() - 4) + L"_2.png";
  EXPECT_TRUE(second == numbered || (second.size() == first.size() && second > first))
      << std::string(second.begin(), second.end());
}

TEST(FolderChoice, DesktopOrFirstEntryOfTheExactFrameWithAnExistingDirectory) {
  std::vector<ShellWindowEntry> entries = {
      {Frame(11), L"file:///C:\\neighbour"},  // another frame
      {Frame(10), L""},                       // no location
      {Frame(10), L"shell:::{20D04FE0}"},     // not a file URL
      {Frame(10), L"file:///C:\\gone"},       // deleted while shown
      {Frame(10), L"file:///C:\\tab2"},
      {Frame(10), L"file:///C:\\tab3"},
      {Frame(12), L"file:///C:\\gone"},
      {nullptr, L"file:///C:\\x"},
  };
  const std::set<std::wstring> directories = {L"C:\\neighbour", L"C:\\tab2", L"C:\\tab3", L"C:\\x"};
  int listed = 0, desktopAsked = 0;
  FolderLookup lookup;
  lookup.desktopFolder = [&] { return ++desktopAsked, std::wstring(L"C:\\Users\\me\\Desktop"); };
  lookup.shellWindows = [&] { return ++listed, entries; };
  lookup.urlToPath = [](const std::wstring& url) {
    return url.rfind(L"file:///", 0) == 0 ? url.substr(8) : std::wstring();
  };
  lookup.isDirectory = [&](const std::wstring& path) { return directories.count(path) != 0; };
  struct {
    HWND window;
    bool isDesktop;
    const wchar_t* expected;
  } rows[] = {
      {nullptr, false, L""},
      {nullptr, true, L""},
      {Frame(10), true, L"C:\\Users\\me\\Desktop"},  // whatever the shell lists
      {Frame(10), false, L"C:\\tab2"},
      {Frame(11), false, L"C:\\neighbour"},
      {Frame(12), false, L""},  // no qualifying entry
      {Frame(99), false, L""},  // closed after the keystroke
  };
  for (const auto& row : rows) {
    listed = desktopAsked = 0;
    EXPECT_EQ(ChooseFolderForWindow(row.window, row.isDesktop, lookup), row.expected);
    EXPECT_EQ(listed > 0, row.window && !row.isDesktop) << row.expected;
    EXPECT_EQ(desktopAsked > 0, row.window && row.isDesktop) << row.expected;
  }
  entries.clear();
  EXPECT_EQ(ChooseFolderForWindow(Frame(10), false, lookup), L"");
}

TEST(FolderChoice, FileUrlToPath) {
  EXPECT_EQ(FileUrlToPath(L"file:///C:/Users/me/Pictures"), L"C:\\Users\\me\\Pictures");
  EXPECT_EQ(FileUrlToPath(L"file:///C:/My%20Shots/"), L"C:\\My Shots\\");
  EXPECT_EQ(FileUrlToPath(L""), L"");
  EXPECT_EQ(FileUrlToPath(L"http://example.invalid/x"), L"");
}

TEST(RevealMatch, FirstEntryOfTheFrameShowingTheFolder) {
  // Stand-in item-ID lists, equal when they carry the same number.
  auto list = [](uintptr_t n) { return reinterpret_cast<PCIDLIST_ABSOLUTE>(n); };
  int calls = 0;
  ItemIdListsEqual equal = [&calls](PCIDLIST_ABSOLUTE a, PCIDLIST_ABSOLUTE b) {
    ++calls;
    return a == b;
  };
  std::vector<RevealEntry> entries = {
      {Frame(2), list(100)},  // another window on the same folder
      {Frame(1), nullptr},    // view not readable
      {Frame(1), list(200)},  // tab on another folder
      {Frame(1), list(100)}, {Frame(1), list(100)},
      {Frame(3), list(200)},  // moved to another folder
  };
  EXPECT_EQ(FindRevealEntry(Frame(1), entries, list(100), equal), 3);
  EXPECT_EQ(calls, 2);  // neither the other frame nor the unreadable view is compared
  EXPECT_EQ(FindRevealEntry(Frame(2), entries, list(100), equal), 0);
  EXPECT_EQ(FindRevealEntry(Frame(3), entries, list(100), equal), -1);
  EXPECT_EQ(FindRevealEntry(Frame(9), entries, list(100), equal), -1);  // closed
  EXPECT_EQ(FindRevealEntry(Frame(1), {}, list(100), equal), -1);
}
