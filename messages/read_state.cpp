#include "messages/read_state.h"

#include <vector>

#include "core/handles.h"
#include "messages/feed_worker.h"

ReadStateStoreRecord ReadStateStore;

namespace {

void WriteStoredTokens() {
  ScopedRegKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, READ_STATE_KEY_PATH_W, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
    return;  // the token stays read for this run only
  }
  const std::string& tokens = ReadStateStore.tokens;
  RegSetValueExA(key.Get(), READ_STATE_VALUE_NAME, 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(tokens.c_str()),
                 static_cast<DWORD>(tokens.size() + 1));
}

}  // namespace

void LoadReadState() {
  std::vector<char> buffer(READ_STATE_LOAD_BUFFER, '\0');
  DWORD size = READ_STATE_LOAD_BUFFER;
  if (RegGetValueA(HKEY_CURRENT_USER, READ_STATE_KEY_PATH, READ_STATE_VALUE_NAME,
                   RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, buffer.data(), &size) != ERROR_SUCCESS) {
    return;
  }
  // Up to the first NUL, and never past the buffer even if the data carried none.
  size_t length = 0;
  while (length < buffer.size() && buffer[length] != '\0') ++length;
  ReadStateStore.tokens.assign(buffer.data(), length);
}

bool AppendReadStateToken(std::string& tokens, const std::string& token) {
  if (tokens.find(token) != std::string::npos) return false;
  tokens += token;
  const size_t length = tokens.size();
  if (length <= READ_STATE_MAX_BYTES) return true;

  // Drop the oldest tokens up to the first token end in the last 16,000 bytes. Whatever
  // stands before it (a foreign stored value, say), the token just added survives: if
  // its own ";" is the first one, only the bytes before it go.
  const size_t from = length - READ_STATE_KEEP_WINDOW;
  const size_t newTokenStart = length - token.size();
  const size_t end = tokens.find(';', from);
  if (end == std::string::npos) return true;
  if (end >= newTokenStart) {
    tokens.erase(0, newTokenStart);
  } else {
    tokens.erase(0, end + 1);
  }
  return true;
}

std::string ReadStateToken(const MessageRecord& record) {
  return record.id + ":" + std::to_string(record.revision) + ";";
}

bool IsMessageRead(const MessageRecord& record) {
  return ReadStateStore.tokens.find(ReadStateToken(record)) != std::string::npos;
}

void MarkMessageRead(const MessageRecord& record) {
  if (!AppendReadStateToken(ReadStateStore.tokens, ReadStateToken(record))) return;
  WriteStoredTokens();
}

uint32_t CountUnreadMessages() {
  uint32_t unread = 0;
  for (const MessageRecord& record : FeedState.messages) {
    if (!IsMessageRead(record)) ++unread;
  }
  return unread;
}
