#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/scoped_handles.h"
#include "messages/message_window.h"
#include "messages/open_message.h"
#include "paste/png_encoder.h"
#include "tests/messages/messages_test_support.h"

using namespace feedtext;

namespace {

using Lines = std::vector<std::wstring>;

std::vector<std::pair<HWND, std::wstring>> openedPages;

void RecordOpenedPage(HWND owner, const std::wstring& address) {
  openedPages.push_back({owner, address});
}

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

std::wstring WindowText(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

std::wstring Status() { return WindowText(messageStatusLine); }

Lines ListLines() {
  Lines lines;
  wchar_t line[512];  // titles are at most 160 units
  for (LRESULT i = 0, n = SendMessageW(messageListBox, LB_GETCOUNT, 0, 0); i < n; ++i) {
    const LRESULT length =
        SendMessageW(messageListBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
    lines.push_back(length < 0 ? L"<no text>" : std::wstring(line, static_cast<size_t>(length)));
  }
  return lines;
}

LRESULT Selection() { return SendMessageW(messageListBox, LB_GETCURSEL, 0, 0); }
void Select(int index) { SendMessageW(messageListBox, LB_SETCURSEL, index, 0); }

void Command(int id, WORD code = BN_CLICKED) {
  SendMessageW(AppState.messageWindow, WM_COMMAND, MAKEWPARAM(id, code), 0);
}

void FeedDone(bool ok, std::vector<MessageRecord> fetched) {
  {
    std::lock_guard<std::mutex> lock(FeedState.fetchLock);
    FeedState.fetchOk = ok;
    FeedState.fetched = std::move(fetched);
  }
  OnFeedDone();
}

// The window's pixels from the screen, as a PNG in <build>/artifacts (Wine maps / to Z:).
bool SaveScreenshot(HWND window, const wchar_t* name) {
  const char* build = std::getenv("DROPLEAF_BUILD_DIR");
  if (!build || !*build) return false;
  std::wstring path = L"Z:";
  for (const char* c = build; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  path += L"\\artifacts";
  CreateDirectoryW(path.c_str(), nullptr);
  path += name;
  DeleteFileW(path.c_str());
  RECT rect;
  GetWindowRect(window, &rect);
  HDC screen = GetDC(nullptr);
  ScopedGdiObject bitmap(
      CreateCompatibleBitmap(screen, rect.right - rect.left, rect.bottom - rect.top));
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, bitmap.Get());
  BitBlt(memory, 0, 0, rect.right - rect.left, rect.bottom - rect.top, screen, rect.left, rect.top,
         SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  return EncodePngFile(static_cast<HBITMAP>(bitmap.Get()), path) &&
         GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
         data.nFileSizeLow > 1000;
}

class MessageWindowTest : public MessagesTest {
 protected:
  void SetUp() override {
    MessagesTest::SetUp();
    openedPages.clear();
    openerWas_ = messagePageOpener;
    messagePageOpener = RecordOpenedPage;
    hidden_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(hidden_, nullptr);
  }
  void TearDown() override {
    if (AppState.messageWindow) DestroyWindow(AppState.messageWindow);
    DestroyWindow(hidden_);
    PumpMessages();
    messagePageOpener = openerWas_;
    MessagesTest::TearDown();
  }

  void Open() {
    OpenMessageWindow(hidden_);
    ASSERT_NE(AppState.messageWindow, nullptr);
    PumpMessages();
  }

  HWND hidden_ = nullptr;
  PageOpener openerWas_ = nullptr;
};

}  // namespace

// Opening builds the whole window at once; its picture is kept as a test artifact.
TEST_F(MessageWindowTest, OpensWithItsControlsAndSavesAScreenshot) {
  FeedState.messages = {Record(1, 1, L"Dropleaf 0.2.1 新版本发布"),
                        Record(2, 2, L"使用技巧：粘贴截图到桌面"), Record(3, 3, L"服务器维护通知")};
  MarkMessageRead(FeedState.messages[1]);
  Open();
  HWND window = AppState.messageWindow;
  EXPECT_EQ(FeedState.notifyWindow, hidden_);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  EXPECT_STREQ(className, L"Dropleaf.Messages");
  EXPECT_EQ(WindowText(window), L"消息中心");
  const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME |
                     WS_VISIBLE | WS_CHILD),
            static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE));
  EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
  EXPECT_EQ(GetWindow(window, GW_OWNER), hidden_);
  RECT rect;
  GetWindowRect(window, &rect);
  EXPECT_EQ(rect.right - rect.left, 610);
  EXPECT_EQ(rect.bottom - rect.top, 470);
  EXPECT_EQ(GetClassLongPtrW(window, GCLP_HBRBACKGROUND), static_cast<ULONG_PTR>(COLOR_WINDOW + 1));

  // Class, text, id, style, client edge and place of each control, in tab order. The list box
  // drops WS_VSCROLL while its lines fit.
  Lines controls;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t line[256];
    GetClassNameW(child, className, 64);
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    const DWORD ignore = child == messageListBox ? WS_VSCROLL : 0;
    swprintf(line, 256, L"%ls|%ls|%d|%08lx|%d|%ld,%ld,%ld,%ld", CharUpperW(className),
             WindowText(child).c_str(), GetDlgCtrlID(child),
             static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE) & ~ignore),
             (GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0, rect.left, rect.top,
             rect.right, rect.bottom);
    controls.push_back(line);
    EXPECT_EQ(SendMessageW(child, WM_GETFONT, 0, 0),
              reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT)));
  }
  EXPECT_EQ(controls, (Lines{L"LISTBOX||101|50010101|1|24,30,564,300",
                             L"STATIC|选择一条消息，点击查看详情。|0|50000000|0|24,315,564,355",
                             L"BUTTON|查看详情|102|50010001|0|24,370,144,404",
                             L"BUTTON|全部已读|103|50010000|0|160,370,280,404",
                             L"BUTTON|刷新|104|50010000|0|442,370,562,404"}));
  EXPECT_EQ(messageListBox, GetDlgItem(window, IDC_MESSAGE_LIST));
  EXPECT_EQ(messageStatusLine, GetWindow(messageListBox, GW_HWNDNEXT));

  SetWindowPos(window, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  SetForegroundWindow(window);
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  for (int i = 0; i < 10; ++i, Sleep(30)) PumpMessages();
  EXPECT_TRUE(SaveScreenshot(window, L"\\message_window.png"));
}

TEST_F(MessageWindowTest, ListsMarksAndFeedStatus) {
  Open();
  EXPECT_TRUE(ListLines().empty());
  EXPECT_EQ(Status(), L"暂时没有消息。");

  FeedState.messages = {Record(1, 1, L"新版本发布"), Record(2, 5, L"使用技巧"),
                        Record(3, 0, L"维护通知")};
  MarkMessageRead(FeedState.messages[1]);
  Select(0);
  PopulateMessageList();
  EXPECT_EQ(ListLines(), (Lines{L"● 新版本发布", L"使用技巧", L"● 维护通知"}));
  EXPECT_EQ(Status(), L"选择一条消息，点击查看详情。");
  EXPECT_EQ(Selection(), LB_ERR);

  Command(IDC_MARK_ALL_READ);
  EXPECT_EQ(ListLines(), (Lines{L"新版本发布", L"使用技巧", L"维护通知"}));
  EXPECT_EQ(ReadStateStore.tokens,
            MessageId(2) + ":5;" + MessageId(1) + ":1;" + MessageId(3) + ":0;");
  EXPECT_EQ(CountUnreadMessages(), 0u);

  Command(IDC_REFRESH);
  EXPECT_EQ(Status(), L"正在加载…");
  EXPECT_FALSE(FeedState.refreshRunning.load());  // shutting down: no refresh starts

  // A failed refresh keeps the lines and says so; other commands change nothing.
  FeedState.messages = {Record(1, 2, L"甲")};
  PopulateMessageList();
  FeedDone(false, {Record(9, 9, L"不该出现")});
  EXPECT_EQ(Status(), L"消息暂时无法加载，请点击刷新重试。");
  EXPECT_EQ(ListLines(), (Lines{L"● 甲"}));
  Select(0);
  Command(IDC_MESSAGE_LIST, LBN_SELCHANGE);
  Command(999);
  EXPECT_TRUE(openedPages.empty());
  EXPECT_EQ(Status(), L"消息暂时无法加载，请点击刷新重试。");

  // A good one replaces them; an empty good one empties the list.
  FeedDone(true, {Record(9, 9, L"丙"), Record(10, 1, L"丁")});
  EXPECT_EQ(ListLines(), (Lines{L"● 丙", L"● 丁"}));
  EXPECT_EQ(Status(), L"选择一条消息，点击查看详情。");
  FeedDone(true, {});
  EXPECT_TRUE(ListLines().empty());
  EXPECT_EQ(Status(), L"暂时没有消息。");
}

TEST_F(MessageWindowTest, OpeningAMessageMarksItOpensItsPageAndRebuilds) {
  for (unsigned i = 0; i < 30; ++i) FeedState.messages.push_back(Record(i, i, L"消息"));
  Open();
  Command(IDC_VIEW_DETAILS);  // no selection: nothing happens
  EXPECT_TRUE(openedPages.empty());
  EXPECT_EQ(ReadStateStore.tokens, "");

  EXPECT_TRUE(GetWindowLongW(messageListBox, GWL_STYLE) & WS_VSCROLL);  // more lines than fit
  Select(29);
  SetMessageStatusText(L"x");
  Command(IDC_MESSAGE_LIST, LBN_DBLCLK);
  ASSERT_EQ(openedPages.size(), 1u);
  EXPECT_EQ(openedPages[0].first, AppState.messageWindow);
  const std::string id = MessageId(29);
  EXPECT_EQ(openedPages[0].second, L"https://www.velmorralab.com/messages/?tool=dropleaf&id=" +
                                       std::wstring(id.begin(), id.end()));
  EXPECT_EQ(StoredText(), id + ":29;");
  const Lines lines = ListLines();
  ASSERT_EQ(lines.size(), 30u);
  EXPECT_EQ(lines[29], L"消息");
  EXPECT_EQ(lines[28], L"● 消息");
  EXPECT_EQ(Selection(), LB_ERR);
  EXPECT_EQ(SendMessageW(messageListBox, LB_GETTOPINDEX, 0, 0), 0);
  EXPECT_EQ(Status(), L"选择一条消息，点击查看详情。");

  // Already read: opens again, writes nothing, rebuilds.
  RegDeleteKeyValueA(HKEY_CURRENT_USER, READ_STATE_KEY_PATH, READ_STATE_VALUE_NAME);
  Select(29);
  Command(IDC_VIEW_DETAILS);
  EXPECT_EQ(openedPages.size(), 2u);
  EXPECT_EQ(StoredText(), "<none>");
  EXPECT_EQ(Selection(), LB_ERR);

  // One token unmarks every line of that message; a bad id is never opened.
  FeedState.messages = {
      Record(7, 3, L"甲"), Record(8, 1, L"乙"), Record(7, 3, L"甲"), {"msg-NOT-VALID", 1, L"坏"}};
  PopulateMessageList();
  Select(2);
  Command(IDC_VIEW_DETAILS);
  EXPECT_EQ(ListLines(), (Lines{L"甲", L"● 乙", L"甲", L"● 坏"}));
  Select(3);
  Command(IDC_VIEW_DETAILS);
  EXPECT_EQ(openedPages.size(), 3u);
  EXPECT_EQ(Selection(), 3);  // not rebuilt
}

TEST_F(MessageWindowTest, ReopeningRestoresAndClosingClearsTheHandles) {
  FeedState.messages = {Record(1, 1, L"甲")};
  Open();
  HWND first = AppState.messageWindow;
  ShowWindow(first, SW_MINIMIZE);
  PumpMessages();
  ASSERT_TRUE(IsIconic(first));
  FeedState.messages.push_back(Record(2, 2, L"乙"));
  OpenMessageWindow(hidden_);
  PumpMessages();
  EXPECT_EQ(AppState.messageWindow, first);
  EXPECT_FALSE(IsIconic(first));
  EXPECT_EQ(ListLines(), (Lines{L"● 甲"}));  // not rebuilt

  SendMessageW(first, WM_CLOSE, 0, 0);
  PumpMessages();
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(AppState.messageWindow, nullptr);
  EXPECT_EQ(messageListBox, nullptr);
  EXPECT_EQ(messageStatusLine, nullptr);
  PopulateMessageList();  // closed: nothing to do, nothing to crash on
  SetMessageStatusText(MESSAGE_STATUS_FAILED);
  OpenSelectedMessage();
  EXPECT_TRUE(openedPages.empty());

  Open();
  EXPECT_EQ(ListLines(), (Lines{L"● 甲", L"● 乙"}));
}
