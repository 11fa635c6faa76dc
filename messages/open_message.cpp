#include "messages/open_message.h"

#include <shellapi.h>

#include "core/service_hosts.h"
#include "messages/feed_parser.h"

std::wstring MessagePageAddress(const std::string& id) {
  return std::wstring(MAKER_WEB_SITE) + L"/messages/?tool=dropleaf&id=" + Utf8ToWide(id);
}

void OpenPageInBrowser(HWND owner, const std::wstring& address) {
  ShellExecuteW(owner, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

PageOpener messagePageOpener = OpenPageInBrowser;
