#pragma once

// Builders for message service answers and the shared registry fixture of this area's tests.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "messages/feed_worker.h"
#include "messages/read_state.h"

namespace feedtext {

// Plain RFC 4648 Base64 with padding, independent of the platform decoder under test.
inline std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    unsigned v = 0;
    for (size_t j = 0; j < 3; ++j) {
      v = (v << 8) | (j < n ? static_cast<unsigned char>(bytes[i + j]) : 0u);
    }
    for (size_t j = 0; j < 4; ++j) out += j <= n ? kAlphabet[(v >> (18 - 6 * j)) & 63] : '=';
  }
  return out;
}

// "msg-" and 24 lowercase hex digits derived from n.
inline std::string MessageId(unsigned n) {
  static const char kHex[] = "0123456789abcdef";
  std::string id = "msg-";
  for (int i = 23; i >= 0; --i) id += kHex[(n >> ((i % 8) * 4)) & 15];
  return id;
}

// One feed line without its LF.
inline std::string Line(const std::string& id, const std::string& revision,
                        const std::string& utf8Title) {
  return id + "|" + revision + "|" + Base64(utf8Title) + "|";
}

// A whole service answer carrying the feed text.
inline std::string Response(const std::string& feed) {
  return "{\"ok\":true,\"native_feed\":\"" + Base64(feed) + "\"}";
}

inline MessageRecord Record(unsigned n, uint32_t revision, const wchar_t* title = L"t") {
  return {MessageId(n), revision, title};
}

// The stored read state without its terminator; "<none>" unless a terminated REG_SZ is there.
inline std::string StoredText() {
  std::vector<char> buffer(40000, '\0');
  DWORD size = static_cast<DWORD>(buffer.size());
  DWORD type = 0;
  if (RegGetValueA(HKEY_CURRENT_USER, READ_STATE_KEY_PATH, READ_STATE_VALUE_NAME, RRF_RT_ANY, &type,
                   buffer.data(), &size) != ERROR_SUCCESS ||
      type != REG_SZ || size == 0 || buffer[size - 1] != '\0') {
    return "<none>";
  }
  return std::string(buffer.data(), size - 1);
}

// A clean read state and feed, with the network refresh held off.
class MessagesTest : public testing::Test {
 protected:
  void SetUp() override {
    stopWas_ = AppState.feedStopRequested.exchange(true);
    Clear();
  }
  void TearDown() override {
    Clear();
    FeedState.notifyWindow = nullptr;
    AppState.feedStopRequested.exchange(stopWas_);
  }
  static void Clear() {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Velmorra");
    ReadStateStore.tokens.clear();
    FeedState.messages.clear();
  }
  bool stopWas_ = false;
};

}  // namespace feedtext
