#include <gtest/gtest.h>

#include <thread>

#include "paste/clipboard_capture.h"
#include "tests/paste/paste_test_support.h"

namespace {

double MillisecondsSince(LARGE_INTEGER start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * (now.QuadPart - start.QuadPart) / frequency.QuadPart;
}

// Holds the clipboard open from another thread, with a window of its own, for `holdMs`.
class ClipboardHolder {
 public:
  explicit ClipboardHolder(DWORD holdMs) : opened_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = std::thread([this, holdMs] {
      HWND window = CreateMessageOnlyWindow();
      held_ = OpenClipboard(window) != FALSE;
      SetEvent(opened_);
      if (held_) {
        Sleep(holdMs);
        CloseClipboard();
      }
      DestroyWindow(window);
    });
    WaitForSingleObject(opened_, 5000);
  }
  ~ClipboardHolder() {
    thread_.join();
    CloseHandle(opened_);
  }
  bool held() const { return held_; }

 private:
  HANDLE opened_;
  bool held_ = false;
  std::thread thread_;
};

class ClipboardCapture : public testing::Test {
 protected:
  void SetUp() override { owner_ = CreateMessageOnlyWindow(); }
  void TearDown() override { DestroyWindow(owner_); }

  void ExpectCaptured(const Image& expected) {
    HBITMAP copy = CaptureClipboardBitmap(owner_);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(GetOpenClipboardWindow(), nullptr);
    DIBSECTION section = {};
    EXPECT_EQ(GetObjectW(copy, sizeof(section), &section), static_cast<int>(sizeof(section)))
        << "the copy is a DIB section";
    Image got = ReadBitmap(copy);
    EXPECT_EQ(got.width, expected.width);
    EXPECT_EQ(got.height, expected.height);
    EXPECT_TRUE(got.pixels == WithoutAlpha(expected).pixels);
    DeleteObject(copy);
  }

  HWND owner_ = nullptr;
};

}  // namespace

TEST_F(ClipboardCapture, DibOnlyImageIsCapturedThroughTheSynthesizedBitmap) {
  Image image = PatternImage(13, 7);
  ASSERT_TRUE(PutDibOnClipboard(owner_, image, false));
  ExpectCaptured(image);
  // Reading leaves the clipboard as it was.
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_DIB));
}

TEST_F(ClipboardCapture, DibV5OnlyImageIsCaptured) {
  Image image = PatternImage(9, 16);
  ASSERT_TRUE(PutDibOnClipboard(owner_, image, true));
  ExpectCaptured(image);
}

TEST_F(ClipboardCapture, TheCopyOutlivesTheClipboardContents) {
  Image image = PatternImage(5, 4);
  ASSERT_TRUE(PutDibOnClipboard(owner_, image, false));
  HBITMAP copy = CaptureClipboardBitmap(owner_);
  ASSERT_NE(copy, nullptr);
  ASSERT_TRUE(PutTextOnClipboard(owner_, L"replaced"));
  Image got = ReadBitmap(copy);
  EXPECT_TRUE(got.pixels == WithoutAlpha(image).pixels);
  DeleteObject(copy);
}

TEST_F(ClipboardCapture, TextGivesNoneAndClosesTheClipboard) {
  ASSERT_TRUE(PutTextOnClipboard(owner_, L"just words"));
  EXPECT_EQ(CaptureClipboardBitmap(owner_), nullptr);
  EXPECT_EQ(GetOpenClipboardWindow(), nullptr);
  // Closed again: this thread can open it at once.
  ASSERT_TRUE(OpenClipboard(owner_));
  CloseClipboard();
}

TEST_F(ClipboardCapture, BusyThroughAllAttemptsGivesNoneAfterEightPauses) {
  ASSERT_TRUE(PutDibOnClipboard(owner_, PatternImage(4, 4), false));
  ClipboardHolder holder(400);
  ASSERT_TRUE(holder.held());
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  HBITMAP copy = CaptureClipboardBitmap(owner_);
  double elapsed = MillisecondsSince(start);
  EXPECT_EQ(copy, nullptr);
  EXPECT_GE(elapsed, 79.0);
  EXPECT_LT(elapsed, 390.0) << "gave up before the holder let go";
  if (copy) DeleteObject(copy);
}

TEST_F(ClipboardCapture, ReleasedDuringTheRetriesIsCaptured) {
  Image image = PatternImage(6, 3);
  ASSERT_TRUE(PutDibOnClipboard(owner_, image, false));
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  ClipboardHolder holder(35);
  ASSERT_TRUE(holder.held());
  ExpectCaptured(image);
  EXPECT_GE(MillisecondsSince(start), 30.0);
}
