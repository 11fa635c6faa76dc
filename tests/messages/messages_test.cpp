#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include "app/tray_menu.h"
#include "core/app_state.h"
#include "messages/feed_worker.h"
#include "messages/message_window.h"
#include "messages/open_message.h"
#include "messages/read_state.h"
#include "tests/support/test_support.h"

namespace {

std::string Base64(const std::string& bytes) {  // the platform's encoder, not the decoder
  DWORD length = DWORD(bytes.size() * 2 + 8);
  std::string text(length, '\0');
  CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()),
                       CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, &text[0], &length);
  text.resize(length);
  return text;
}

std::string Id(unsigned n) {  // "msg-" and 24 lowercase hex digits
  std::string id = "msg-";
  for (int i = 23; i >= 0; --i) id += "0123456789abcdef"[(n >> ((i % 8) * 4)) & 15];
  return id;
}

std::string Line(const std::string& id, const std::string& revision, const std::string& title) {
  return id + "|" + revision + "|" + Base64(title) + "|";
}

std::vector<MessageRecord> Parse(const std::string& feed) {
  return ParseNativeFeed("{\"ok\":true,\"native_feed\":\"" + Base64(feed) + "\"}");
}

// A feed is taken whole or not at all; each limit at N, then at N + 1.
TEST(FeedParsing, LimitsAtTheEdgeAndOneBeyond) {
  const std::string line = Line(Id(1), "1", "t"), emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
  std::string lines100, pairs80;
  for (unsigned i = 0; i < 100; ++i) lines100 += Line(Id(i), "1", "t") + "\n";
  for (int i = 0; i < 80; ++i) pairs80 += emoji;
  const std::string bytes65536 = line + std::string(65536 - line.size(), 'x');  // after the title
  const std::pair<std::string, std::string> limits[] = {
      {lines100, lines100 + line},                                                         // lines
      {Line(Id(1), "1", std::string(160, 'a')), Line(Id(1), "1", std::string(161, 'a'))},  // title
      {Line(Id(1), "1", pairs80), Line(Id(1), "1", pairs80 + "a")},   // a pair counts two
      {bytes65536, bytes65536 + "x"},                                 // feed bytes
      {line, line.substr(0, line.size() - 1)},                        // three bars
      {Line(Id(1), "1", "\xC3\xA9"), Line(Id(1), "1", "\xC3")},       // whole UTF-8
      {Line(Id(1), "99999999", "t"), Line(Id(1), "999999999", "t")},  // revision digits
      {Line(Id(0xabcdef), "1", "t"), Line("msg-" + std::string(23, '0') + "g", "1", "t")},
      {Line(Id(0xabcdef), "1", "t"), Line("msg-" + std::string(23, '0') + "A", "1", "t")},
      {line + "\n" + line, line + "\n\n" + line},         // an empty line, then a malformed one:
      {line + "\n" + line, line + "\nmore|1|\n" + line},  // never a partial list
  };
  for (const auto& [atLimit, beyond] : limits) {
    EXPECT_FALSE(Parse(atLimit).empty()) << atLimit.substr(0, 80);
    EXPECT_TRUE(Parse(beyond).empty()) << beyond.substr(0, 80);
  }
  const auto records =
      Parse(Line(Id(7), "00000042", "\xE6\xB6\x88\xE6\x81\xAF") + "more|\r\n" + line);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].id + ":" + std::to_string(records[0].revision), Id(7) + ":42");
  EXPECT_EQ(records[0].title, L"消息");
}

class Messages : public testing::Test {  // a clean read state; no refresh unless asked for
 protected:
  void SetUp() override {
    AppState.feedStopRequested.exchange(true);
    RegDeleteTreeA(HKEY_CURRENT_USER, READ_STATE_KEY_PATH);  // Dropleaf's own, no more
    ReadStateStore.tokens.clear();
  }
};

TEST_F(Messages, ReadStatePersistsAndCutsToWholeTokens) {
  MarkMessageRead({Id(1), 0, L"t"});
  MarkMessageRead({Id(1), 12, L"t"});  // a new revision is unread again
  ReadStateStore.tokens.clear();
  LoadReadState();
  EXPECT_EQ(ReadStateStore.tokens, Id(1) + ":0;" + Id(1) + ":12;");

  // 20,000 bytes stay; 20,001 are cut after the first ";" of the last 16,000, and the token
  // just added survives even behind a foreign value.
  std::string tokens(20000 - 31, 'x'), foreign(19990, 'x');
  tokens[3000] = ';';
  EXPECT_TRUE(AppendReadStateToken(tokens, Id(2) + ":1;"));
  EXPECT_EQ(tokens.size(), 20000u) << "nothing cut";
  tokens.assign(20001 - 32, 'x');
  tokens[3000] = tokens[15000] = ';';
  const std::string whole = tokens + Id(3) + ":22;";
  EXPECT_TRUE(AppendReadStateToken(tokens, Id(3) + ":22;"));
  EXPECT_EQ(tokens, whole.substr(15001));
  EXPECT_TRUE(AppendReadStateToken(foreign, Id(4) + ":4;"));
  EXPECT_EQ(foreign, Id(4) + ":4;");
}

std::wstring Text(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

std::wstring ListLines() {  // one line each
  std::wstring lines;
  wchar_t line[512];
  for (LRESULT i = 0, n = SendMessageW(messageListBox, LB_GETCOUNT, 0, 0); i < n; ++i)
    lines += std::wstring(line, SendMessageW(messageListBox, LB_GETTEXT, i, LPARAM(line))) + L"\n";
  return lines;
}

std::wstring openedPage;

TEST_F(Messages, WindowListsMarksRefreshesOpensAPageAndTheTrayMenuCountsUnread) {
  TestWindow hidden(L"Dropleaf.Test.Hidden", HWND_MESSAGE);
  int feedDone = 0;
  hidden.onMessage = [&](UINT message, WPARAM) {
    if (message == WM_FEED_DONE) ++feedDone, OnFeedDone();
  };
  messagePageOpener = [](HWND, const std::wstring& page) { openedPage = page; };
  FeedState.messages = {{Id(1), 1, L"Dropleaf 0.2.1 新版本发布"},
                        {Id(2), 2, L"使用技巧：粘贴截图到桌面"},
                        {Id(3), 0, L"服务器维护通知"}};
  MarkMessageRead(FeedState.messages[1]);

  // The menu's check marks follow the switch and run-at-sign-in, each both ways, and its
  // message-centre entry counts the unread messages.
  for (bool on : {true, false}) {
    HMENU menu = BuildTrayMenu(on, !on, on ? 0 : 12);
    wchar_t label[64] = {};
    GetMenuStringW(menu, IDM_MESSAGES, label, 64, MF_BYCOMMAND);
    EXPECT_STREQ(label, on ? L"消息中心" : L"消息中心（12 条未读）");
    auto checked = [&](UINT id) { return (GetMenuState(menu, id, 0) & MF_CHECKED) != 0; };
    EXPECT_TRUE(checked(IDM_TOGGLE_ENABLED) == on && checked(IDM_TOGGLE_AUTOSTART) == !on) << on;
    for (UINT id : {IDM_HELP, IDM_FEEDBACK, IDM_EXIT}) EXPECT_EQ(GetMenuState(menu, id, 0), 0u);
    EXPECT_EQ(GetMenuItemCount(menu), 8) << "two separators";
    DestroyMenu(menu);
  }
  EXPECT_EQ(CountUnreadMessages(), 2u);

  OpenMessageWindow(hidden.Get());
  ASSERT_NE(AppState.messageWindow, nullptr);
  EXPECT_EQ(ListLines(),
            L"● Dropleaf 0.2.1 新版本发布\n使用技巧：粘贴截图到桌面\n● 服务器维护通知\n");
  EXPECT_EQ(Text(messageStatusLine), L"选择一条消息，点击查看详情。");

  SendMessageW(messageListBox, LB_SETCURSEL, 2, 0);
  SendMessageW(AppState.messageWindow, WM_COMMAND, IDC_VIEW_DETAILS, 0);
  const std::string id = Id(3);
  EXPECT_EQ(openedPage, L"https://www.velmorralab.com/messages/?tool=dropleaf&id=" +
                            std::wstring(id.begin(), id.end()));
  EXPECT_EQ(ListLines(),
            L"● Dropleaf 0.2.1 新版本发布\n使用技巧：粘贴截图到桌面\n服务器维护通知\n");
  SendMessageW(AppState.messageWindow, WM_COMMAND, IDC_MARK_ALL_READ, 0);
  EXPECT_EQ(CountUnreadMessages(), 0u);

  // Refresh asks the service (which the test prefix does not reach): the failure keeps the
  // lines and says so; a good empty feed empties them.
  AppState.feedStopRequested.exchange(false);
  SendMessageW(AppState.messageWindow, WM_COMMAND, IDC_REFRESH, 0);
  EXPECT_EQ(Text(messageStatusLine), L"正在加载…");
  EXPECT_TRUE(WaitUntil([&] { return feedDone == 1 && !FeedState.refreshRunning; }, 12000));
  EXPECT_EQ(Text(messageStatusLine), L"消息暂时无法加载，请点击刷新重试。");
  EXPECT_EQ(ListLines(), L"Dropleaf 0.2.1 新版本发布\n使用技巧：粘贴截图到桌面\n服务器维护通知\n");
  FeedState.fetchOk = true;
  OnFeedDone();
  EXPECT_EQ(Text(messageStatusLine), L"暂时没有消息。");
  EXPECT_EQ(ListLines(), L"");
  SendMessageW(AppState.messageWindow, WM_CLOSE, 0, 0);
  EXPECT_EQ(AppState.messageWindow, nullptr);
  StopFeedWorker();
}

}  // namespace
