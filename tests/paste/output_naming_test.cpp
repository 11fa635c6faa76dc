#include <gtest/gtest.h>

#include <set>

#include "paste/output_naming.h"
#include "tests/paste/paste_test_support.h"

namespace {

SYSTEMTIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME t = {};
  t.wYear = year;
  t.wMonth = month;
  t.wDay = day;
  t.wHour = hour;
  t.wMinute = minute;
  t.wSecond = second;
  t.wMilliseconds = 987;
  return t;
}

const SYSTEMTIME kTime = At(2025, 3, 14, 9, 15, 2);

// A folder as a set of taken names, every test recorded.
struct FakeFolder {
  std::set<std::wstring> taken;
  std::vector<std::wstring> asked;
  std::function<bool(const std::wstring&)> Exists() {
    return [this](const std::wstring& path) {
      asked.push_back(path);
      return taken.count(path) != 0;
    };
  }
};

}  // namespace

TEST(OutputNaming, BuildsTheTimeStampedNameFromLocalTimeFields) {
  FakeFolder folder;
  EXPECT_EQ(ChooseOutputPathAt(L"C:\\Users\\me\\Pictures", kTime, folder.Exists()),
            L"C:\\Users\\me\\Pictures\\Screenshot_20250314_091502.png");
  EXPECT_EQ(ChooseOutputPathAt(L"C:\\", kTime, folder.Exists()),
            L"C:\\Screenshot_20250314_091502.png");
  EXPECT_EQ(ChooseOutputPathAt(L"D:\\shots\\", At(1999, 12, 31, 23, 59, 59), folder.Exists()),
            L"D:\\shots\\Screenshot_19991231_235959.png");
  EXPECT_EQ(folder.asked.size(), 3u);
}

TEST(OutputNaming, CollisionsInOneSecondCountUpFromTwo) {
  FakeFolder folder;
  const std::wstring dir = L"C:\\d";
  std::vector<std::wstring> chosen;
  for (int i = 0; i < 3; ++i) {
    std::wstring path = ChooseOutputPathAt(dir, kTime, folder.Exists());
    folder.taken.insert(path);
    chosen.push_back(path);
  }
  EXPECT_EQ(chosen[0], L"C:\\d\\Screenshot_20250314_091502.png");
  EXPECT_EQ(chosen[1], L"C:\\d\\Screenshot_20250314_091502_2.png");
  EXPECT_EQ(chosen[2], L"C:\\d\\Screenshot_20250314_091502_3.png");

  // The next second starts from the plain name again.
  EXPECT_EQ(ChooseOutputPathAt(dir, At(2025, 3, 14, 9, 15, 3), folder.Exists()),
            L"C:\\d\\Screenshot_20250314_091503.png");
}

TEST(OutputNaming, AllNineThousandNineHundredNinetyNineTakenGivesEmpty) {
  FakeFolder folder;
  const std::wstring stem = L"C:\\d\\Screenshot_20250314_091502";
  folder.taken.insert(stem + L".png");
  for (int n = 2; n <= 9998; ++n) folder.taken.insert(stem + L"_" + std::to_wstring(n) + L".png");
  EXPECT_EQ(ChooseOutputPathAt(L"C:\\d", kTime, folder.Exists()), stem + L"_9999.png");

  folder.taken.insert(stem + L"_9999.png");
  folder.asked.clear();
  EXPECT_EQ(ChooseOutputPathAt(L"C:\\d", kTime, folder.Exists()), L"");
  ASSERT_EQ(folder.asked.size(), 9999u);
  EXPECT_EQ(folder.asked.front(), stem + L".png");
  EXPECT_EQ(folder.asked[1], stem + L"_2.png");
  EXPECT_EQ(folder.asked.back(), stem + L"_9999.png");
}

TEST(OutputNaming, OnDiskADirectoryTakesANameLikeAFile) {
  std::wstring dir = MakeCleanFolder(L"paste-naming");
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::wstring first = ChooseOutputPathAt(dir, now, [](const std::wstring& p) {
    return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES;
  });
  ASSERT_FALSE(first.empty());
  ASSERT_TRUE(CreateDirectoryW(first.c_str(), nullptr));
  std::wstring second = ChooseOutputPath(dir);
  RemoveDirectoryW(first.c_str());
  // The platform wrapper reads the clock itself; when the second turned meanwhile the
  // plain name of the new second is free.
  std::wstring numbered = first.substr(0, first.size() - 4) + L"_2.png";
  EXPECT_TRUE(second == numbered || (second.size() == first.size() && second > first))
      << std::string(second.begin(), second.end());
}
