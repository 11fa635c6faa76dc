#include <gtest/gtest.h>

#include <wincodec.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/com_ptr.h"
#include "app/scoped_handles.h"
#include "messages/feed_worker.h"
#include "messages/message_window.h"
#include "messages/open_message.h"
#include "messages/read_state.h"
#include "tests/messages/feed_text.h"

using feedtext::MessageId;

namespace {

struct OpenedPage {
  HWND owner;
  std::wstring address;
};
std::vector<OpenedPage> openedPages;

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

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

std::vector<std::wstring> ListLines() {
  std::vector<std::wstring> lines;
  const LRESULT count = SendMessageW(messageListBox, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendMessageW(messageListBox, LB_GETTEXTLEN, i, 0);
    if (length < 0) {
      ADD_FAILURE() << "line " << i << " has no text";
      break;
    }
    std::wstring line(static_cast<size_t>(length) + 1, L'\0');
    line.resize(static_cast<size_t>(
        SendMessageW(messageListBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&line[0]))));
    lines.push_back(line);
  }
  return lines;
}

RECT ClientRectIn(HWND child, HWND parent) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void Command(int id, WORD code = BN_CLICKED) {
  SendMessageW(AppState.messageWindow, WM_COMMAND, MAKEWPARAM(id, code), 0);
}

MessageRecord Record(unsigned n, uint32_t revision, const wchar_t* title) {
  return {MessageId(n), revision, title};
}

// Writes the window's pixels as a PNG through the imaging component.
bool SaveWindowPng(HWND window, const std::wstring& path) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  ScopedGdiObject bitmap(CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, bitmap.Get());
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!bitmap.Get()) return false;
  for (int i = 0; i < width * height; ++i) static_cast<BYTE*>(bits)[i * 4 + 3] = 255;

  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWICImagingFactory, factory.PutVoid())) &&
         SUCCEEDED(factory->CreateStream(stream.Put())) &&
         SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
         SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Put())) &&
         SUCCEEDED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) &&
         SUCCEEDED(encoder->CreateNewFrame(frame.Put(), nullptr)) &&
         SUCCEEDED(frame->Initialize(nullptr)) &&
         SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) &&
         SUCCEEDED(frame->SetPixelFormat(&format)) &&
         SUCCEEDED(frame->WritePixels(static_cast<UINT>(height), static_cast<UINT>(width) * 4,
                                      static_cast<UINT>(width * height * 4),
                                      static_cast<BYTE*>(bits))) &&
         SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

// The build folder as a Windows path (Wine maps the Unix root to Z:).
std::wstring BuildFolder() {
  const char* unixPath = std::getenv("DROPLEAF_BUILD_DIR");
  if (!unixPath || !*unixPath) return {};
  std::wstring path = L"Z:";
  for (const char* c = unixPath; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  return path;
}

class MessageWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    stopWas_ = AppState.feedStopRequested.exchange(true);  // no network refresh from tests
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Velmorra");
    ReadStateStore.tokens.clear();
    FeedState.messages.clear();
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
    FeedState.messages.clear();
    FeedState.notifyWindow = nullptr;
    ReadStateStore.tokens.clear();
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Velmorra");
    AppState.feedStopRequested.exchange(stopWas_);
  }

  void Open() {
    OpenMessageWindow(hidden_);
    ASSERT_NE(AppState.messageWindow, nullptr);
    PumpMessages();
  }

  HWND hidden_ = nullptr;
  bool stopWas_ = false;
  PageOpener openerWas_ = nullptr;
};

}  // namespace

TEST(MessagePageAddress, SiteMessagesPathToolAndId) {
  EXPECT_EQ(MessagePageAddress("msg-0123456789abcdef01234567"),
            L"https://www.velmorralab.com/messages/?tool=dropleaf&id=msg-0123456789abcdef01234567");
}

TEST_F(MessageWindowTest, WindowHasClassTitleStyleAndOwner) {
  Open();
  HWND window = AppState.messageWindow;
  EXPECT_EQ(FeedState.notifyWindow, hidden_);
  EXPECT_EQ(ClassOf(window), L"Dropleaf.Messages");
  EXPECT_EQ(WindowText(window), L"消息中心");
  const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
            static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
  EXPECT_EQ(style & 0x00CA0000u, 0x00CA0000u);
  EXPECT_TRUE(style & WS_VISIBLE);
  EXPECT_FALSE(style & WS_CHILD);
  EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
  EXPECT_EQ(GetWindow(window, GW_OWNER), hidden_);
  RECT rect;
  GetWindowRect(window, &rect);
  EXPECT_EQ(rect.right - rect.left, 610);
  EXPECT_EQ(rect.bottom - rect.top, 470);
  EXPECT_EQ(GetClassLongPtrW(window, GCLP_HBRBACKGROUND), static_cast<ULONG_PTR>(COLOR_WINDOW + 1));
  EXPECT_EQ(GetClassLongW(window, GCL_STYLE), 0u);
}

TEST_F(MessageWindowTest, FiveControlsInTabOrder) {
  Open();
  HWND window = AppState.messageWindow;
  struct Expected {
    const wchar_t* className;
    const wchar_t* text;
    int id;
    DWORD style;
    bool clientEdge;
    RECT rect;
  };
  const Expected expected[] = {
      {L"ListBox", L"", IDC_MESSAGE_LIST, 0x50210101, true, {24, 30, 564, 300}},
      {L"Static", MESSAGE_STATUS_EMPTY, 0, 0x50000000, false, {24, 315, 564, 355}},
      {L"Button", L"查看详情", IDC_VIEW_DETAILS, 0x50010001, false, {24, 370, 144, 404}},
      {L"Button", L"全部已读", IDC_MARK_ALL_READ, 0x50010000, false, {160, 370, 280, 404}},
      {L"Button", L"刷新", IDC_REFRESH, 0x50010000, false, {442, 370, 562, 404}},
  };
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  HWND child = GetWindow(window, GW_CHILD);
  for (const Expected& e : expected) {
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(_wcsicmp(ClassOf(child).c_str(), e.className), 0) << e.className;
    EXPECT_EQ(WindowText(child), e.text);
    EXPECT_EQ(GetDlgCtrlID(child), e.id);
    // The list box drops WS_VSCROLL while its lines fit; it comes back with more lines.
    const DWORD shown = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    const DWORD ignore = e.id == IDC_MESSAGE_LIST ? WS_VSCROLL : 0;
    EXPECT_EQ(shown & ~ignore, e.style & ~ignore) << e.className;
    EXPECT_EQ((GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0, e.clientEdge);
    const RECT rect = ClientRectIn(child, window);
    EXPECT_EQ(rect.left, e.rect.left);
    EXPECT_EQ(rect.top, e.rect.top);
    EXPECT_EQ(rect.right, e.rect.right);
    EXPECT_EQ(rect.bottom, e.rect.bottom);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)), font);
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr);
  EXPECT_EQ(messageListBox, GetDlgItem(window, IDC_MESSAGE_LIST));
  EXPECT_EQ(messageStatusLine, GetWindow(messageListBox, GW_HWNDNEXT));
}

TEST_F(MessageWindowTest, ListsTitlesWithUnreadMarks) {
  Open();
  EXPECT_TRUE(ListLines().empty());
  EXPECT_EQ(WindowText(messageStatusLine), L"暂时没有消息。");

  FeedState.messages = {Record(1, 1, L"新版本发布"), Record(2, 5, L"使用技巧"),
                        Record(3, 0, L"维护通知")};
  MarkMessageRead(FeedState.messages[1]);
  SendMessageW(messageListBox, LB_SETCURSEL, 0, 0);
  PopulateMessageList();
  EXPECT_EQ(ListLines(), (std::vector<std::wstring>{L"● 新版本发布", L"使用技巧", L"● 维护通知"}));
  EXPECT_EQ(WindowText(messageStatusLine), L"选择一条消息，点击查看详情。");
  EXPECT_EQ(SendMessageW(messageListBox, LB_GETCURSEL, 0, 0), LB_ERR);

  FeedState.messages.clear();
  PopulateMessageList();
  EXPECT_TRUE(ListLines().empty());
  EXPECT_EQ(WindowText(messageStatusLine), L"暂时没有消息。");
}

TEST_F(MessageWindowTest, MarkAllReadRemovesEveryMark) {
  FeedState.messages = {Record(1, 1, L"甲"), Record(2, 2, L"乙")};
  Open();
  EXPECT_EQ(ListLines(), (std::vector<std::wstring>{L"● 甲", L"● 乙"}));
  Command(IDC_MARK_ALL_READ);
  EXPECT_EQ(ListLines(), (std::vector<std::wstring>{L"甲", L"乙"}));
  EXPECT_EQ(ReadStateStore.tokens, MessageId(1) + ":1;" + MessageId(2) + ":2;");
  EXPECT_EQ(CountUnreadMessages(), 0u);

  FeedState.messages.clear();
  Command(IDC_MARK_ALL_READ);
  EXPECT_EQ(WindowText(messageStatusLine), L"暂时没有消息。");
}

TEST_F(MessageWindowTest, StatusTextsForRefreshAndFailure) {
  FeedState.messages = {Record(1, 1, L"甲")};
  Open();
  Command(IDC_REFRESH);
  EXPECT_EQ(WindowText(messageStatusLine), L"正在加载…");
  EXPECT_FALSE(FeedState.refreshRunning.load());  // shutting down: no refresh starts

  // A failed refresh keeps the lines and says so.
  {
    std::lock_guard<std::mutex> lock(FeedState.fetchLock);
    FeedState.fetchOk = false;
    FeedState.fetched = {Record(9, 9, L"不该出现")};
  }
  OnFeedDone();
  EXPECT_EQ(WindowText(messageStatusLine), L"消息暂时无法加载，请点击刷新重试。");
  EXPECT_EQ(ListLines(), (std::vector<std::wstring>{L"● 甲"}));

  // A good one replaces them; an empty good one empties the list.
  {
    std::lock_guard<std::mutex> lock(FeedState.fetchLock);
    FeedState.fetchOk = true;
    FeedState.fetched = {Record(9, 9, L"丙"), Record(10, 1, L"丁")};
  }
  OnFeedDone();
  EXPECT_EQ(ListLines(), (std::vector<std::wstring>{L"● 丙", L"● 丁"}));
  EXPECT_EQ(WindowText(messageStatusLine), L"选择一条消息，点击查看详情。");
  {
    std::lock_guard<std::mutex> lock(FeedState.fetchLock);
    FeedState.fetched.clear();
  }
  OnFeedDone();
  EXPECT_TRUE(ListLines().empty());
  EXPECT_EQ(WindowText(messageStatusLine), L"暂时没有消息。");
  {
    std::lock_guard<std::mutex> lock(FeedState.fetchLock);
    FeedState.fetchOk = false;
  }
  FeedState.messages = {Record(1, 1, L"甲")};
  PopulateMessageList();
  SetMessageStatusText(MESSAGE_STATUS_FAILED);
  EXPECT_EQ(WindowText(messageStatusLine), L"消息暂时无法加载，请点击刷新重试。");

  // Other commands and list notifications change nothing.
  SendMessageW(messageListBox, LB_SETCURSEL, 0, 0);
  Command(IDC_MESSAGE_LIST, LBN_SELCHANGE);
  Command(999);
  EXPECT_TRUE(openedPages.empty());
  EXPECT_EQ(WindowText(messageStatusLine), L"消息暂时无法加载，请点击刷新重试。");
}

TEST_F(MessageWindowTest, ReopeningRestoresWithoutRebuilding) {
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
  EXPECT_EQ(ListLines().size(), 1u);
}

TEST_F(MessageWindowTest, ClosingClearsHandlesAndReopeningListsAtOnce) {
  FeedState.messages = {Record(1, 1, L"甲")};
  Open();
  HWND first = AppState.messageWindow;
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

  FeedState.messages.push_back(Record(2, 2, L"乙"));
  Open();
  EXPECT_NE(AppState.messageWindow, nullptr);
  EXPECT_EQ(ListLines(), (std::vector<std::wstring>{L"● 甲", L"● 乙"}));
}

TEST_F(MessageWindowTest, OpeningWithoutSelectionDoesNothing) {
  FeedState.messages = {Record(1, 1, L"甲")};
  Open();
  Command(IDC_VIEW_DETAILS);
  EXPECT_TRUE(openedPages.empty());
  EXPECT_EQ(ReadStateStore.tokens, "");
  EXPECT_EQ(ListLines(), (std::vector<std::wstring>{L"● 甲"}));
}

TEST_F(MessageWindowTest, OpeningSelectedMessageMarksOpensAndRebuilds) {
  for (unsigned i = 0; i < 30; ++i) FeedState.messages.push_back(Record(i, i, L"消息"));
  Open();
  EXPECT_TRUE(GetWindowLongW(messageListBox, GWL_STYLE) & WS_VSCROLL);  // more lines than fit
  SendMessageW(messageListBox, LB_SETCURSEL, 29, 0);
  SetMessageStatusText(L"x");
  Command(IDC_MESSAGE_LIST, LBN_DBLCLK);
  ASSERT_EQ(openedPages.size(), 1u);
  EXPECT_EQ(openedPages[0].owner, AppState.messageWindow);
  const std::string id = MessageId(29);
  EXPECT_EQ(openedPages[0].address, L"https://www.velmorralab.com/messages/?tool=dropleaf&id=" +
                                        std::wstring(id.begin(), id.end()));
  const std::vector<std::wstring> lines = ListLines();
  ASSERT_EQ(lines.size(), 30u);
  EXPECT_EQ(lines[29], L"消息");
  EXPECT_EQ(lines[28], L"● 消息");
  EXPECT_EQ(SendMessageW(messageListBox, LB_GETCURSEL, 0, 0), LB_ERR);
  EXPECT_EQ(SendMessageW(messageListBox, LB_GETTOPINDEX, 0, 0), 0);
  EXPECT_EQ(WindowText(messageStatusLine), L"选择一条消息，点击查看详情。");

  // Already read: opens again, writes nothing, rebuilds.
  RegDeleteKeyValueA(HKEY_CURRENT_USER, READ_STATE_KEY_PATH, READ_STATE_VALUE_NAME);
  SendMessageW(messageListBox, LB_SETCURSEL, 29, 0);
  Command(IDC_VIEW_DETAILS);
  EXPECT_EQ(openedPages.size(), 2u);
  EXPECT_NE(RegGetValueA(HKEY_CURRENT_USER, READ_STATE_KEY_PATH, READ_STATE_VALUE_NAME, RRF_RT_ANY,
                         nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(SendMessageW(messageListBox, LB_GETCURSEL, 0, 0), LB_ERR);
}

TEST_F(MessageWindowTest, SharedTokenUnmarksBothLinesAndBadIdsAreSkipped) {
  FeedState.messages = {Record(7, 3, L"甲"), Record(8, 1, L"乙"), Record(7, 3, L"甲")};
  FeedState.messages.push_back({"msg-NOT-VALID", 1, L"坏"});
  Open();
  SendMessageW(messageListBox, LB_SETCURSEL, 2, 0);
  Command(IDC_VIEW_DETAILS);
  EXPECT_EQ(ListLines(), (std::vector<std::wstring>{L"甲", L"● 乙", L"甲", L"● 坏"}));

  SendMessageW(messageListBox, LB_SETCURSEL, 3, 0);
  Command(IDC_VIEW_DETAILS);
  EXPECT_EQ(openedPages.size(), 1u);
  EXPECT_EQ(SendMessageW(messageListBox, LB_GETCURSEL, 0, 0), 3);  // not rebuilt
}

TEST_F(MessageWindowTest, SavesScreenshotWithListContent) {
  FeedState.messages = {Record(1, 1, L"Dropleaf 0.2.1 新版本发布"),
                        Record(2, 2, L"使用技巧：粘贴截图到桌面"), Record(3, 3, L"服务器维护通知")};
  MarkMessageRead(FeedState.messages[1]);
  Open();
  HWND window = AppState.messageWindow;
  SetWindowPos(window, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  SetForegroundWindow(window);
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  for (int i = 0; i < 10; ++i) {
    PumpMessages();
    Sleep(30);
  }
  const std::wstring build = BuildFolder();
  ASSERT_FALSE(build.empty()) << "DROPLEAF_BUILD_DIR is not set";
  const std::wstring folder = build + L"\\artifacts";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring path = folder + L"\\message_window.png";
  DeleteFileW(path.c_str());
  ASSERT_TRUE(SaveWindowPng(window, path));
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
  EXPECT_GT(data.nFileSizeLow, 1000u);
}
