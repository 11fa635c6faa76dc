#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "app/app_state.h"
#include "app/tray_icon.h"
#include "app/tray_menu.h"

namespace {

TEST(TrayMenu, MessageCentreLabelShowsTheUnreadCountInFull) {
  EXPECT_EQ(MessageCentreMenuLabel(0), L"消息中心");
  EXPECT_EQ(MessageCentreMenuLabel(3), L"消息中心（3 条未读）");
  EXPECT_EQ(MessageCentreMenuLabel(12), L"消息中心（12 条未读）");
  EXPECT_EQ(MessageCentreMenuLabel(100), L"消息中心（100 条未读）");
}

std::wstring ItemText(HMENU menu, UINT position) {
  wchar_t buffer[128] = {};
  GetMenuStringW(menu, position, buffer, 128, MF_BYPOSITION);
  return buffer;
}

bool IsChecked(HMENU menu, UINT position) {
  return (GetMenuState(menu, position, MF_BYPOSITION) & MF_CHECKED) != 0;
}

bool IsSeparator(HMENU menu, UINT position) {
  return (GetMenuState(menu, position, MF_BYPOSITION) & MF_SEPARATOR) != 0;
}

TEST(TrayMenu, EightEntriesInOrderWithIds) {
  HMENU menu = BuildTrayMenu(true, false, 3);
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(GetMenuItemCount(menu), 8);
  const struct {
    UINT id;
    const wchar_t* label;
  } expected[8] = {{IDM_TOGGLE_ENABLED, L"启用图片粘贴"},
                   {IDM_TOGGLE_AUTOSTART, L"开机自动运行"},
                   {0, nullptr},
                   {IDM_HELP, L"使用说明"},
                   {IDM_FEEDBACK, L"问题反馈"},
                   {IDM_MESSAGES, L"消息中心（3 条未读）"},
                   {0, nullptr},
                   {IDM_EXIT, L"退出"}};
  for (UINT i = 0; i < 8; ++i) {
    if (!expected[i].label) {
      EXPECT_TRUE(IsSeparator(menu, i)) << "entry " << i;
      continue;
    }
    EXPECT_FALSE(IsSeparator(menu, i)) << "entry " << i;
    EXPECT_EQ(GetMenuItemID(menu, i), expected[i].id) << "entry " << i;
    EXPECT_EQ(ItemText(menu, i), expected[i].label) << "entry " << i;
    UINT state = GetMenuState(menu, i, MF_BYPOSITION);
    EXPECT_EQ(state & (MF_GRAYED | MF_DISABLED | MF_POPUP), 0u) << "entry " << i;
  }
  for (UINT i = 2; i < 8; ++i) EXPECT_FALSE(IsChecked(menu, i)) << "entry " << i;
  DestroyMenu(menu);
}

TEST(TrayMenu, CheckMarksFollowTheState) {
  for (bool pasting : {false, true}) {
    for (bool runAtSignIn : {false, true}) {
      HMENU menu = BuildTrayMenu(pasting, runAtSignIn, 0);
      ASSERT_NE(menu, nullptr);
      EXPECT_EQ(GetMenuItemCount(menu), 8);
      EXPECT_EQ(IsChecked(menu, 0), pasting) << "pasting " << pasting;
      EXPECT_EQ(IsChecked(menu, 1), runAtSignIn) << "run at sign-in " << runAtSignIn;
      EXPECT_EQ(ItemText(menu, 5), L"消息中心");
      DestroyMenu(menu);
    }
  }
}

TEST(TrayIcon, TooltipFollowsTheSwitchAndCallsWithoutAWindowAreHarmless) {
  EXPECT_STREQ(TrayTooltipText(true), L"Dropleaf - 已启用");
  EXPECT_STREQ(TrayTooltipText(false), L"Dropleaf - 已暂停");
  ASSERT_EQ(AppState.hiddenWindow, nullptr);
  UpdateTrayTooltip();
  ShowBalloon(L"Dropleaf", std::wstring(1000, L'x'), NIIF_WARNING);
  ShowBalloon(nullptr, L"", NIIF_INFO);
}

}  // namespace
