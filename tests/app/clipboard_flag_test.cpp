#include <gtest/gtest.h>

#include <windows.h>

#include "app/app_state.h"
#include "app/hidden_window.h"
#include "tests/app/test_windows.h"

namespace {

class ClipboardFlagTest : public testing::Test {
 protected:
  void TearDown() override {
    AppState.clipboardHasImage.exchange(false);
    if (OpenClipboard(nullptr)) {
      EmptyClipboard();
      CloseClipboard();
    }
  }
};

TEST_F(ClipboardFlagTest, TextClearsTheFlagAndEveryImageFormatSetsIt) {
  AppState.clipboardHasImage.exchange(true);
  ASSERT_TRUE(PutTextOnClipboard(L"just some text"));
  UpdateClipboardImageFlag();
  EXPECT_FALSE(AppState.clipboardHasImage.load());

  ASSERT_TRUE(PutDibOnClipboard(CF_DIB));
  UpdateClipboardImageFlag();
  EXPECT_TRUE(AppState.clipboardHasImage.load()) << "CF_DIB only";

  ASSERT_TRUE(PutTextOnClipboard(L"text again"));
  UpdateClipboardImageFlag();
  EXPECT_FALSE(AppState.clipboardHasImage.load());

  ASSERT_TRUE(PutDibOnClipboard(CF_DIBV5));
  UpdateClipboardImageFlag();
  EXPECT_TRUE(AppState.clipboardHasImage.load()) << "CF_DIBV5 only";

  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  const DWORD pixels[4] = {};
  HBITMAP bitmap = CreateBitmap(2, 2, 1, 32, pixels);
  ASSERT_NE(bitmap, nullptr);
  if (!SetClipboardData(CF_BITMAP, bitmap)) DeleteObject(bitmap);
  CloseClipboard();
  UpdateClipboardImageFlag();
  EXPECT_TRUE(AppState.clipboardHasImage.load()) << "CF_BITMAP";

  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  CloseClipboard();
  UpdateClipboardImageFlag();
  EXPECT_FALSE(AppState.clipboardHasImage.load()) << "empty clipboard";
}

}  // namespace
