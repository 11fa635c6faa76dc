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
}

TEST(TrayMenu, EightEntriesInOrderWithCheckMarksFollowingTheState) {
  const struct {
    UINT id;
    const wchar_t* label;  // null for a separator
  } expected[8] = {{IDM_TOGGLE_ENABLED, L"启用图片粘贴"},
                   {IDM_TOGGLE_AUTOSTART, L"开机自动运行"},
                   {0, nullptr},
                   {IDM_HELP, L"使用说明"},
                   {IDM_FEEDBACK, L"问题反馈"},
                   {IDM_MESSAGES, L"消息中心（3 条未读）"},
                   {0, nullptr},
                   {IDM_EXIT, L"退出"}};
  for (bool pasting : {false, true}) {
    for (bool runAtSignIn : {false, true}) {
      HMENU menu = BuildTrayMenu(pasting, runAtSignIn, 3);
      ASSERT_NE(menu, nullptr);
      ASSERT_EQ(GetMenuItemCount(menu), 8);
      for (UINT i = 0; i < 8; ++i) {
        UINT state = GetMenuState(menu, i, MF_BYPOSITION);
        bool checked = (i == 0 && pasting) || (i == 1 && runAtSignIn);
        EXPECT_EQ((state & MF_CHECKED) != 0, checked) << "entry " << i;
        EXPECT_EQ((state & MF_SEPARATOR) != 0, !expected[i].label) << "entry " << i;
        if (!expected[i].label) continue;
        wchar_t text[128] = {};
        GetMenuStringW(menu, i, text, 128, MF_BYPOSITION);
        EXPECT_EQ(GetMenuItemID(menu, i), expected[i].id) << "entry " << i;
        EXPECT_STREQ(text, expected[i].label) << "entry " << i;
        EXPECT_EQ(state & (MF_GRAYED | MF_DISABLED | MF_POPUP), 0u) << "entry " << i;
      }
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
