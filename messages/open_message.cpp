#include "messages/open_message.h"

#include <shellapi.h>

#include "app/app_state.h"
#include "app/service_hosts.h"
#include "messages/feed_worker.h"
#include "messages/message_window.h"
#include "messages/read_state.h"

std::wstring MessagePageAddress(const std::string& id) {
  return std::wstring(MAKER_WEB_SITE) + L"/messages/?tool=dropleaf&id=" + Utf8ToWide(id);
}

void OpenPageInBrowser(HWND owner, const std::wstring& address) {
  ShellExecuteW(owner, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

PageOpener messagePageOpener = OpenPageInBrowser;

void OpenSelectedMessage() {
  // Without a list there is no selection (a null window would read as line 0).
  if (!AppState.messageWindow || !messageListBox) return;
  const LRESULT index = SendMessageW(messageListBox, LB_GETCURSEL, 0, 0);
  if (index < 0 || static_cast<size_t>(index) >= FeedState.messages.size()) return;
  const MessageRecord record = FeedState.messages[static_cast<size_t>(index)];
  if (!IsValidMessageId(record.id)) return;

  MarkMessageRead(record);  // read before the page is asked for
  messagePageOpener(AppState.messageWindow, MessagePageAddress(record.id));
  PopulateMessageList();
}
