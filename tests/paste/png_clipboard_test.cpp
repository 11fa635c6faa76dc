#include <gtest/gtest.h>

#include <thread>

#include "paste/clipboard_capture.h"
#include "paste/png_encoder.h"
#include "tests/paste/paste_test_support.h"

TEST(PngEncoder, TransparentPixelsAreWrittenOpaqueWithTheirColours) {
  // The files stay in paste-png/ for check_png.py, which decodes them without WIC.
  std::wstring dir = BuildFolder() + L"paste-png";
  CreateDirectoryW(dir.c_str(), nullptr);
  for (auto size : {std::make_pair(37, 23), std::make_pair(640, 480)}) {
    std::wstring path = dir + L"\\pattern_" + std::to_wstring(size.first) + L"x" +
                        std::to_wstring(size.second) + L".png";
    DeleteFileW(path.c_str());
    Image image = PatternImage(size.first, size.second);
    HBITMAP bitmap = CreateDibSection(image);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_TRUE(EncodePngFile(bitmap, path));
    DeleteObject(bitmap);
    Image decoded = DecodePngWithWic(path);
    ASSERT_EQ(decoded.width, size.first);
    ASSERT_EQ(decoded.height, size.second);
    EXPECT_TRUE(decoded.pixels == WithAlpha(image, 0xFF).pixels);
  }
}

TEST(PngEncoder, FailsWithoutWritingOrReplacingAnything) {
  std::wstring dir = MakeCleanFolder(L"paste-encoder");
  std::wstring taken = dir + L"\\taken.png", blocker = dir + L"\\blocker.txt";
  ASSERT_TRUE(WriteBytes(taken, "someone else's file", 19));
  ASSERT_TRUE(WriteBytes(blocker, "a file", 6));
  EXPECT_FALSE(EncodePngFile(nullptr, dir + L"\\null.png"));
  HBITMAP bitmap = CreateDibSection(PatternImage(8, 8));
  // An existing file, a "folder" that is a file, and one that does not exist.
  for (const std::wstring& path : {taken, blocker + L"\\shot.png", dir + L"\\missing\\shot.png"})
    EXPECT_FALSE(EncodePngFile(bitmap, path)) << std::string(path.begin(), path.end());
  EXPECT_EQ(ReadBytes(taken), "someone else's file");
  EXPECT_EQ(FilesIn(dir), (std::vector<std::wstring>{L"blocker.txt", L"taken.png"}));
  EXPECT_FALSE(FileExists(dir + L"\\missing"));
  std::wstring locked = LockedFolder();
  if (!locked.empty()) {
    EXPECT_FALSE(EncodePngFile(bitmap, locked + L"\\shot.png"));
    EXPECT_TRUE(FilesIn(locked).empty());
  }
  DeleteObject(bitmap);
  if (locked.empty()) GTEST_SKIP() << "paste-locked is not write-protected here";
}

namespace {

// Holds the clipboard open from another thread, with a window of its own, for `holdMs`.
struct ClipboardHolder {
  explicit ClipboardHolder(DWORD holdMs) {
    thread = std::thread([this, holdMs] {
      HWND window = CreateMessageOnlyWindow();
      held = OpenClipboard(window) != FALSE;
      SetEvent(opened);
      if (held) {
        Sleep(holdMs);
        CloseClipboard();
      }
      DestroyWindow(window);
    });
    WaitForSingleObject(opened, 5000);
  }
  ~ClipboardHolder() {
    thread.join();
    CloseHandle(opened);
  }
  HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool held = false;
  std::thread thread;
};

class ClipboardCapture : public testing::Test {
 protected:
  void SetUp() override { owner_ = CreateMessageOnlyWindow(); }
  void TearDown() override { DestroyWindow(owner_); }

  // The copy is a DIB section of its own: it outlives the clipboard's contents.
  void ExpectCaptured(const Image& expected, UINT format) {
    HBITMAP copy = CaptureClipboardBitmap(owner_);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(GetOpenClipboardWindow(), nullptr);
    EXPECT_TRUE(IsClipboardFormatAvailable(format)) << "reading leaves the clipboard as it was";
    DIBSECTION section = {};
    EXPECT_EQ(GetObjectW(copy, sizeof(section), &section), static_cast<int>(sizeof(section)));
    ASSERT_TRUE(PutTextOnClipboard(owner_, L"replaced"));
    Image got = ReadBitmap(copy);
    EXPECT_EQ(got.width, expected.width);
    EXPECT_EQ(got.height, expected.height);
    EXPECT_TRUE(got.pixels == WithAlpha(expected, 0).pixels);
    DeleteObject(copy);
  }

  HWND owner_ = nullptr;
};

}  // namespace

TEST_F(ClipboardCapture, DibOrDibV5OnlyImageIsCapturedTextGivesNone) {
  Image image = PatternImage(13, 7);
  ASSERT_TRUE(PutDibOnClipboard(owner_, image, false));
  ExpectCaptured(image, CF_DIB);
  image = PatternImage(9, 16);
  ASSERT_TRUE(PutDibOnClipboard(owner_, image, true));
  ExpectCaptured(image, CF_DIBV5);

  ASSERT_TRUE(PutTextOnClipboard(owner_, L"just words"));
  EXPECT_EQ(CaptureClipboardBitmap(owner_), nullptr);
  EXPECT_EQ(GetOpenClipboardWindow(), nullptr);
  ASSERT_TRUE(OpenClipboard(owner_));  // closed again: this thread can open it at once
  CloseClipboard();
}

TEST_F(ClipboardCapture, BusyThroughAllAttemptsGivesNoneAfterEightPauses) {
  ASSERT_TRUE(PutDibOnClipboard(owner_, PatternImage(4, 4), false));
  ClipboardHolder holder(400);
  ASSERT_TRUE(holder.held);
  double start = NowMs();
  HBITMAP copy = CaptureClipboardBitmap(owner_);
  double elapsed = NowMs() - start;
  EXPECT_EQ(copy, nullptr);
  EXPECT_GE(elapsed, 79.0);
  EXPECT_LT(elapsed, 390.0) << "gave up before the holder let go";
  if (copy) DeleteObject(copy);
}

TEST_F(ClipboardCapture, ReleasedDuringTheRetriesIsCaptured) {
  Image image = PatternImage(6, 3);
  ASSERT_TRUE(PutDibOnClipboard(owner_, image, false));
  double start = NowMs();
  ClipboardHolder holder(35);
  ASSERT_TRUE(holder.held);
  ExpectCaptured(image, CF_DIB);
  EXPECT_GE(NowMs() - start, 30.0);
}
