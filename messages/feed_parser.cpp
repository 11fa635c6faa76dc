#include "messages/feed_parser.h"

#include <windows.h>
#include <wincrypt.h>

#include <climits>

#include "messages/json_scan.h"

namespace {

constexpr size_t kMaxFeedBytes = 65536;
constexpr size_t kMaxRecords = 100;
constexpr size_t kMaxTitleUnits = 160;
constexpr size_t kMaxRevisionDigits = 8;
constexpr size_t kMessageIdLength = 28;

bool IsDecimalText(const std::string& text) {
  if (text.empty() || text.size() > kMaxRevisionDigits) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

uint32_t DecimalValue(const std::string& digits) {
  uint32_t value = 0;
  for (char c : digits) value = value * 10 + static_cast<uint32_t>(c - '0');
  return value;
}

// One line of the feed: "id|revision|title|...". False rejects the whole feed.
bool ParseFeedLine(const std::string& line, MessageRecord& record) {
  const size_t bar1 = line.find('|');
  if (bar1 == std::string::npos) return false;
  const size_t bar2 = line.find('|', bar1 + 1);
  if (bar2 == std::string::npos) return false;
  const size_t bar3 = line.find('|', bar2 + 1);
  if (bar3 == std::string::npos) return false;

  std::string id = line.substr(0, bar1);
  const std::string revisionText = line.substr(bar1 + 1, bar2 - bar1 - 1);
  const std::string titleText = line.substr(bar2 + 1, bar3 - bar2 - 1);
  if (!IsValidMessageId(id)) return false;
  if (!IsDecimalText(revisionText)) return false;
  std::wstring title = Utf8ToWide(DecodeBase64(titleText));
  if (title.empty() || title.size() > kMaxTitleUnits) return false;

  record.id = std::move(id);
  record.revision = DecimalValue(revisionText);
  record.title = std::move(title);
  return true;
}

}  // namespace

std::string DecodeBase64(const std::string& text) {
  // The platform decoder takes a 32-bit length; nothing that long is a feed.
  if (text.empty() || text.size() > MAXDWORD) return {};
  const DWORD inputLength = static_cast<DWORD>(text.size());
  DWORD size = 0;
  if (!CryptStringToBinaryA(text.data(), inputLength, CRYPT_STRING_BASE64, nullptr, &size, nullptr,
                            nullptr)) {
    return {};
  }
  if (size == 0) return {};
  std::string bytes(size, '\0');
  if (!CryptStringToBinaryA(text.data(), inputLength, CRYPT_STRING_BASE64,
                            reinterpret_cast<BYTE*>(&bytes[0]), &size, nullptr, nullptr)) {
    return {};
  }
  bytes.resize(size);
  return bytes;
}

std::wstring Utf8ToWide(const std::string& bytes) {
  // MultiByteToWideChar counts in int; larger input cannot be converted whole.
  if (bytes.empty() || bytes.size() > static_cast<size_t>(INT_MAX)) return {};
  const int inputLength = static_cast<int>(bytes.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), inputLength, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  const int written = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), inputLength,
                                          &wide[0], length);
  if (written <= 0) return {};
  wide.resize(static_cast<size_t>(written));
  return wide;
}

bool IsValidMessageId(const std::string& id) {
  if (id.size() != kMessageIdLength || id.compare(0, 4, "msg-") != 0) return false;
  for (size_t i = 4; i < id.size(); ++i) {
    const char c = id[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// The feed is accepted only as a whole: one bad line, or one line too many, and the
// result is empty, never a partial list.
std::vector<MessageRecord> ParseNativeFeed(const std::string& response) {
  const std::string feed = DecodeBase64(FindJsonValue(response, "native_feed"));
  if (feed.size() > kMaxFeedBytes) return {};

  std::vector<MessageRecord> records;
  size_t start = 0;
  while (start < feed.size()) {
    size_t end = feed.find('\n', start);
    if (end == std::string::npos) end = feed.size();
    MessageRecord record;
    if (!ParseFeedLine(feed.substr(start, end - start), record)) return {};
    records.push_back(std::move(record));
    if (records.size() > kMaxRecords) return {};
    start = end + 1;
  }
  return records;
}
