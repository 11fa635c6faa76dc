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
