#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "messages/feed_worker.h"
#include "messages/read_state.h"
#include "tests/messages/feed_text.h"

using feedtext::MessageId;

namespace {

MessageRecord Record(unsigned n, uint32_t revision) { return {MessageId(n), revision, L"t"}; }

// A token of the given length (31 to 38 bytes): the revision's digit count makes it up.
std::string TokenOfLength(unsigned n, size_t length) {
  const size_t digits = length - 30;
  std::string revision = "1" + std::string(digits - 1, '0');
  return MessageId(n) + ":" + revision + ";";
}

// Whole tokens adding up to exactly length bytes.
std::string TokensOfLength(size_t length, unsigned firstId) {
  const size_t count = (length + 37) / 38;
  std::string tokens;
  for (size_t i = 0; i < count; ++i) {
    const size_t remaining = length - tokens.size();
    tokens += TokenOfLength(firstId + static_cast<unsigned>(i), remaining / (count - i));
  }
  return tokens;
}

bool ReadStoredValue(std::string& value, DWORD& type) {
  std::vector<char> buffer(40000, '\0');
  DWORD size = static_cast<DWORD>(buffer.size());
  if (RegGetValueA(HKEY_CURRENT_USER, READ_STATE_KEY_PATH, READ_STATE_VALUE_NAME, RRF_RT_ANY, &type,
                   buffer.data(), &size) != ERROR_SUCCESS) {
    return false;
  }
  value.assign(buffer.data(), size);
  return true;
}

// The stored text and its length including the terminator; empty when there is none.
std::string StoredText() {
  std::string value;
  DWORD type = 0;
  if (!ReadStoredValue(value, type) || type != REG_SZ) return {};
  EXPECT_FALSE(value.empty());
  EXPECT_EQ(value.back(), '\0');
  return value.substr(0, value.size() - 1);
}

bool StoredValueExists() {
  std::string value;
  DWORD type = 0;
  return ReadStoredValue(value, type);
}

void StoreRaw(DWORD type, const void* data, DWORD size) {
  ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, READ_STATE_KEY_PATH, READ_STATE_VALUE_NAME, type,
                            data, size),
            ERROR_SUCCESS);
}

class ReadStateTest : public testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Velmorra");
    ReadStateStore.tokens.clear();
    FeedState.messages.clear();
    stopWas_ = AppState.feedStopRequested.exchange(true);  // no network refresh from tests
  }
  void TearDown() override {
    AppState.feedStopRequested.exchange(stopWas_);
    ReadStateStore.tokens.clear();
    FeedState.messages.clear();
    FeedState.notifyWindow = nullptr;
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Velmorra");
  }
  bool stopWas_ = false;
};

}  // namespace

TEST(ReadStateToken, IdColonPlainRevisionSemicolon) {
  EXPECT_EQ(ReadStateToken(Record(1, 0)), MessageId(1) + ":0;");
  EXPECT_EQ(ReadStateToken(Record(1, 7)), MessageId(1) + ":7;");
  EXPECT_EQ(ReadStateToken(Record(1, 99999999)), MessageId(1) + ":99999999;");
  EXPECT_EQ(ReadStateToken(Record(1, 4294967295u)), MessageId(1) + ":4294967295;");
}

TEST(AppendReadStateToken, AppendsOnceOnly) {
  std::string tokens;
  const std::string a = ReadStateToken(Record(1, 3));
  EXPECT_TRUE(AppendReadStateToken(tokens, a));
  EXPECT_EQ(tokens, a);
  EXPECT_FALSE(AppendReadStateToken(tokens, a));
  EXPECT_EQ(tokens, a);
  const std::string b = ReadStateToken(Record(1, 4));  // same id, new revision
  EXPECT_TRUE(AppendReadStateToken(tokens, b));
  EXPECT_EQ(tokens, a + b);
}

TEST(AppendReadStateToken, ReachingExactly20000CutsNothing) {
  const std::string token = TokenOfLength(99999, 38);
  std::string tokens = TokensOfLength(20000 - token.size(), 0);
  ASSERT_EQ(tokens.size(), 20000 - token.size());
  const std::string before = tokens;
  EXPECT_TRUE(AppendReadStateToken(tokens, token));
  EXPECT_EQ(tokens, before + token);
}

TEST(AppendReadStateToken, Passing20000CutsToWholeTokensEndingInTheNewOne) {
  for (size_t tokenLength : {31u, 38u}) {
    const std::string token = TokenOfLength(99999, tokenLength);
    std::string tokens = TokensOfLength(20001 - token.size(), 0);
    const std::string whole = tokens + token;
    ASSERT_EQ(whole.size(), 20001u);
    EXPECT_TRUE(AppendReadStateToken(tokens, token));
    EXPECT_LE(tokens.size(), 15999u);
    EXPECT_GE(tokens.size(), 16000u - 38u);  // only up to the first token end in the window
    EXPECT_EQ(whole.substr(whole.size() - tokens.size()), tokens);
    EXPECT_EQ(whole[whole.size() - tokens.size() - 1], ';');
    EXPECT_EQ(tokens.compare(0, 4, "msg-"), 0);
    EXPECT_EQ(tokens.substr(tokens.size() - token.size()), token);
  }
}

TEST(AppendReadStateToken, KeepsNewTokenWhenOlderTextHasNoTokenEnd) {
  // A foreign stored value without any ";" in reach of the cut.
  std::string tokens(19990, 'x');
  const std::string token = ReadStateToken(Record(5, 5));
  EXPECT_TRUE(AppendReadStateToken(tokens, token));
  EXPECT_EQ(tokens, token);

  std::string sparse = "a;" + std::string(19980, 'x');
  EXPECT_TRUE(AppendReadStateToken(sparse, token));
  EXPECT_EQ(sparse, token);
}

TEST_F(ReadStateTest, MarkStoresAndReloadRestores) {
  const MessageRecord first = Record(1, 0);
  const MessageRecord second = Record(2, 12);
  EXPECT_FALSE(IsMessageRead(first));
  MarkMessageRead(first);  // creates the key path
  MarkMessageRead(second);
  EXPECT_TRUE(IsMessageRead(first));
  EXPECT_EQ(StoredText(), ReadStateToken(first) + ReadStateToken(second));

  ReadStateStore.tokens.clear();
  EXPECT_FALSE(IsMessageRead(first));
  HWND notify = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
  LoadReadState(notify);
  EXPECT_EQ(FeedState.notifyWindow, notify);
  EXPECT_TRUE(IsMessageRead(first));
  EXPECT_TRUE(IsMessageRead(second));
  EXPECT_FALSE(IsMessageRead(Record(2, 13)));  // a new revision is unread again
}

TEST_F(ReadStateTest, MarkingAReadMessageWritesNothing) {
  const MessageRecord record = Record(3, 1);
  MarkMessageRead(record);
  ASSERT_TRUE(StoredValueExists());
  ASSERT_EQ(RegDeleteKeyValueA(HKEY_CURRENT_USER, READ_STATE_KEY_PATH, READ_STATE_VALUE_NAME),
            ERROR_SUCCESS);
  const std::string before = ReadStateStore.tokens;
  MarkMessageRead(record);
  EXPECT_FALSE(StoredValueExists());
  EXPECT_EQ(ReadStateStore.tokens, before);
}

TEST_F(ReadStateTest, ChangedRevisionAddsSecondToken) {
  MarkMessageRead(Record(4, 1));
  MarkMessageRead(Record(4, 2));
  EXPECT_EQ(StoredText(), MessageId(4) + ":1;" + MessageId(4) + ":2;");
}

TEST_F(ReadStateTest, LoadTakesValuesUpTo24000Bytes) {
  const std::string largest = TokensOfLength(23999, 0);  // 24,000 bytes with the terminator
  StoreRaw(REG_SZ, largest.c_str(), static_cast<DWORD>(largest.size() + 1));
  LoadReadState(nullptr);
  EXPECT_EQ(ReadStateStore.tokens, largest);
}

TEST_F(ReadStateTest, LoadIgnoresOversizedValues) {
  const std::string tooLarge = TokensOfLength(24000, 0);  // 24,001 bytes with the terminator
  StoreRaw(REG_SZ, tooLarge.c_str(), static_cast<DWORD>(tooLarge.size() + 1));
  LoadReadState(nullptr);
  EXPECT_EQ(ReadStateStore.tokens, "");

  // The next mark replaces the stored value with this run's tokens alone.
  const MessageRecord record = Record(8, 8);
  MarkMessageRead(record);
  EXPECT_EQ(StoredText(), ReadStateToken(record));
}

TEST_F(ReadStateTest, LoadIgnoresValuesOfOtherTypes) {
  const std::string text = ReadStateToken(Record(1, 1));
  const DWORD number = 7;
  StoreRaw(REG_DWORD, &number, sizeof(number));
  LoadReadState(nullptr);
  EXPECT_EQ(ReadStateStore.tokens, "");

  StoreRaw(REG_BINARY, text.c_str(), static_cast<DWORD>(text.size() + 1));
  LoadReadState(nullptr);
  EXPECT_EQ(ReadStateStore.tokens, "");

  // A missing value leaves what is in memory alone.
  RegDeleteKeyValueA(HKEY_CURRENT_USER, READ_STATE_KEY_PATH, READ_STATE_VALUE_NAME);
  ReadStateStore.tokens = text;
  LoadReadState(nullptr);
  EXPECT_EQ(ReadStateStore.tokens, text);
}

TEST_F(ReadStateTest, StoreStaysBoundedOverManyMarks) {
  for (unsigned i = 0; i < 700; ++i) MarkMessageRead(Record(i, 10000000 + i));
  EXPECT_LE(ReadStateStore.tokens.size(), 20000u);
  EXPECT_EQ(StoredText(), ReadStateStore.tokens);
  EXPECT_TRUE(IsMessageRead(Record(699, 10000699)));
  EXPECT_FALSE(IsMessageRead(Record(0, 10000000)));  // the oldest were cut
}

TEST_F(ReadStateTest, CountsUnreadMessagesOfTheFeed) {
  EXPECT_EQ(CountUnreadMessages(), 0u);
  FeedState.messages = {Record(1, 1), Record(2, 2), Record(3, 3), Record(1, 1)};
  EXPECT_EQ(CountUnreadMessages(), 4u);
  MarkMessageRead(Record(1, 1));  // shared by two lines
  EXPECT_EQ(CountUnreadMessages(), 2u);
  MarkMessageRead(Record(2, 2));
  MarkMessageRead(Record(3, 3));
  EXPECT_EQ(CountUnreadMessages(), 0u);
}
