#include "messages/feed_request.h"

std::string CallMessageService(const std::wstring&, const std::string&) { return {}; }
