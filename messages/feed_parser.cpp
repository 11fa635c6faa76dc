#include "messages/feed_parser.h"

std::vector<MessageRecord> ParseNativeFeed(const std::string&) { return {}; }
std::string DecodeBase64(const std::string&) { return {}; }
std::wstring Utf8ToWide(const std::string&) { return {}; }
bool IsValidMessageId(const std::string&) { return false; }
