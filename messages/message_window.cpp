#include "messages/message_window.h"

#include "core/app_state.h"
#include "messages/feed_worker.h"
#include "messages/open_message.h"
#include "messages/read_state.h"

HWND messageListBox = nullptr;
HWND messageStatusLine = nullptr;

namespace {

constexpr wchar_t kWindowTitle[] = L"消息中心";
constexpr wchar_t kUnreadMark[] = L"● ";
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kWindowWidth = 610;
constexpr int kWindowHeight = 470;

struct ControlLayout {
  const wchar_t* className;
  const wchar_t* text;
  int id;
  DWORD style;
  DWORD exStyle;
  int x, y, width, height;
  HWND* keep;  // where the handle is kept, if anywhere
};

// Creation order is tab order.
const ControlLayout kControls[] = {
    {L"LISTBOX", L"", IDC_MESSAGE_LIST,
     WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
     WS_EX_CLIENTEDGE, 24, 30, 540, 270, &messageListBox},
    {L"STATIC", MESSAGE_STATUS_LOADING, 0, WS_CHILD | WS_VISIBLE, 0, 24, 315, 540, 40,
     &messageStatusLine},
    {L"BUTTON", L"查看详情", IDC_VIEW_DETAILS,
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 24, 370, 120, 34, nullptr},
    {L"BUTTON", L"全部已读", IDC_MARK_ALL_READ, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
     0, 160, 370, 120, 34, nullptr},
    {L"BUTTON", L"刷新", IDC_REFRESH, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 442,
     370, 120, 34, nullptr},
};

void CreateControls(HWND window) {
  for (const ControlLayout& control : kControls) {
    HWND child = CreateWindowExW(control.exStyle, control.className, control.text, control.style,
                                 control.x, control.y, control.width, control.height, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), nullptr,
                                 nullptr);
    if (control.keep) *control.keep = child;
  }
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
}

// The selected message's page, marked read before it is asked for.
void OpenSelectedMessage() {
  if (!messageListBox) return;  // a null list would read as line 0
  const LRESULT index = SendMessageW(messageListBox, LB_GETCURSEL, 0, 0);
  if (index < 0 || static_cast<size_t>(index) >= FeedState.messages.size()) return;
  const MessageRecord record = FeedState.messages[static_cast<size_t>(index)];
  if (!IsValidMessageId(record.id)) return;
  MarkMessageRead(record);
  messagePageOpener(AppState.messageWindow, MessagePageAddress(record.id));
  PopulateMessageList();
}

void MarkAllMessagesRead() {
  for (const MessageRecord& record : FeedState.messages) MarkMessageRead(record);
  PopulateMessageList();
}

}  // namespace

std::wstring MessageListLine(const MessageRecord& record) {
  return IsMessageRead(record) ? record.title : kUnreadMark + record.title;
}

void SetMessageStatusText(const wchar_t* text) {
  if (AppState.messageWindow) SetWindowTextW(messageStatusLine, text);
}

void PopulateMessageList() {
  if (!AppState.messageWindow) return;
  SendMessageW(messageListBox, LB_RESETCONTENT, 0, 0);
  if (FeedState.messages.empty()) {
    SetMessageStatusText(MESSAGE_STATUS_EMPTY);
    return;
  }
  for (const MessageRecord& record : FeedState.messages) {
    const std::wstring line = MessageListLine(record);
    SendMessageW(messageListBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  }
  SetMessageStatusText(MESSAGE_STATUS_LISTED);
}

void OnFeedDone() {
  std::lock_guard<std::mutex> lock(FeedState.fetchLock);
  if (FeedState.fetchOk) {
    FeedState.messages = FeedState.fetched;
    PopulateMessageList();
  } else {
    SetMessageStatusText(MESSAGE_STATUS_FAILED);  // only while the window is open
  }
}

void OpenMessageWindow(HWND hiddenWindow) {
  FeedState.notifyWindow = hiddenWindow;
  if (AppState.messageWindow) {
    ShowWindow(AppState.messageWindow, SW_RESTORE);
    SetForegroundWindow(AppState.messageWindow);
    return;
  }

  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = MessageWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszClassName = MESSAGE_WINDOW_CLASS;
  RegisterClassW(&windowClass);  // fails harmlessly once the class exists

  AppState.messageWindow = CreateWindowExW(WS_EX_CONTROLPARENT, MESSAGE_WINDOW_CLASS, kWindowTitle,
                                           kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, kWindowWidth,
                                           kWindowHeight, hiddenWindow, nullptr, instance, nullptr);
  ShowWindow(AppState.messageWindow, SW_SHOW);
}

LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      AppState.messageWindow = window;  // so the population below sees the window open
      CreateControls(window);
      PopulateMessageList();
      StartFeedRefresh(FeedState.notifyWindow);
      return 0;
    case WM_DESTROY:
      AppState.messageWindow = nullptr;
      messageListBox = nullptr;
      messageStatusLine = nullptr;
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_VIEW_DETAILS:
          OpenSelectedMessage();
          return 0;
        case IDC_MESSAGE_LIST:
          if (HIWORD(wParam) == LBN_DBLCLK) {
            OpenSelectedMessage();
            return 0;
          }
          break;
        case IDC_MARK_ALL_READ:
          MarkAllMessagesRead();
          return 0;
        case IDC_REFRESH:
          SetMessageStatusText(MESSAGE_STATUS_LOADING);
          StartFeedRefresh(FeedState.notifyWindow);
          return 0;
      }
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
