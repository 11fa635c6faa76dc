#include <gtest/gtest.h>

#include <string>

#include "tests/messages/messages_test_support.h"

using namespace feedtext;

namespace {

// A token of the given length (31 to 38 bytes): the revision's digit count makes it up.
std::string TokenOfLength(unsigned n, size_t length) {
  return MessageId(n) + ":1" + std::string(length - 31, '0') + ";";
}

// Whole tokens adding up to exactly length bytes.
std::string TokensOfLength(size_t length) {
  std::string tokens;
  for (size_t i = 0, count = (length + 37) / 38; i < count; ++i) {
    tokens += TokenOfLength(static_cast<unsigned>(i), (length - tokens.size()) / (count - i));
  }
  return tokens;
}

void StoreRaw(DWORD type, const void* data, size_t size) {
  ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, READ_STATE_KEY_PATH, READ_STATE_VALUE_NAME, type,
                            data, static_cast<DWORD>(size)),
            ERROR_SUCCESS);
}

using ReadStateTest = MessagesTest;

}  // namespace

TEST(AppendReadStateToken, TokensAppendOnceAndCutToWholeTokens) {
  EXPECT_EQ(ReadStateToken(Record(1, 0)), MessageId(1) + ":0;");
  EXPECT_EQ(ReadStateToken(Record(1, 99999999)), MessageId(1) + ":99999999;");
  EXPECT_EQ(ReadStateToken(Record(1, 4294967295u)), MessageId(1) + ":4294967295;");

  std::string tokens;
  const std::string a = ReadStateToken(Record(1, 3));
  const std::string b = ReadStateToken(Record(1, 4));  // same id, new revision
  EXPECT_TRUE(AppendReadStateToken(tokens, a));
  EXPECT_FALSE(AppendReadStateToken(tokens, a));
  EXPECT_TRUE(AppendReadStateToken(tokens, b));
  EXPECT_EQ(tokens, a + b);

  // Reaching exactly 20,000 bytes cuts nothing.
  const std::string last = TokenOfLength(99999, 38);
  tokens = TokensOfLength(20000 - last.size());
  const std::string before = tokens;
  EXPECT_TRUE(AppendReadStateToken(tokens, last));
  EXPECT_EQ(tokens, before + last);

  // 20,001 bytes cut up to the first token end in the last 16,000.
  for (size_t tokenLength : {31u, 38u}) {
    const std::string token = TokenOfLength(99999, tokenLength);
    tokens = TokensOfLength(20001 - token.size());
    const std::string whole = tokens + token;
    ASSERT_EQ(whole.size(), 20001u);
    EXPECT_TRUE(AppendReadStateToken(tokens, token));
    EXPECT_EQ(tokens, whole.substr(whole.find(';', whole.size() - 16000) + 1));
  }

  // A foreign stored value without any ";" in reach of the cut: the new token survives.
  const std::string token = ReadStateToken(Record(5, 5));
  for (std::string foreign : {std::string(19990, 'x'), "a;" + std::string(19980, 'x')}) {
    EXPECT_TRUE(AppendReadStateToken(foreign, token));
    EXPECT_EQ(foreign, token);
  }
}

TEST_F(ReadStateTest, MarksPersistAndReload) {
  const MessageRecord first = Record(1, 0);
  const MessageRecord second = Record(1, 12);  // a changed revision adds a second token
  EXPECT_FALSE(IsMessageRead(first));
  MarkMessageRead(first);  // creates the key path
  MarkMessageRead(second);
  EXPECT_EQ(StoredText(), ReadStateToken(first) + ReadStateToken(second));

  ReadStateStore.tokens.clear();
  EXPECT_FALSE(IsMessageRead(first));
  HWND notify = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
  LoadReadState(notify);
  EXPECT_EQ(FeedState.notifyWindow, notify);
  EXPECT_TRUE(IsMessageRead(first));
  EXPECT_TRUE(IsMessageRead(second));
  EXPECT_FALSE(IsMessageRead(Record(1, 13)));

  // Marking a read message again writes nothing.
  ASSERT_EQ(RegDeleteKeyValueA(HKEY_CURRENT_USER, READ_STATE_KEY_PATH, READ_STATE_VALUE_NAME),
            ERROR_SUCCESS);
  const std::string tokens = ReadStateStore.tokens;
  MarkMessageRead(second);
  EXPECT_EQ(StoredText(), "<none>");
  EXPECT_EQ(ReadStateStore.tokens, tokens);

  for (unsigned i = 0; i < 700; ++i) MarkMessageRead(Record(i, 10000000 + i));
  EXPECT_LE(ReadStateStore.tokens.size(), 20000u);
  EXPECT_EQ(StoredText(), ReadStateStore.tokens);
  EXPECT_TRUE(IsMessageRead(Record(699, 10000699)));
  EXPECT_FALSE(IsMessageRead(Record(0, 10000000)));  // the oldest were cut
}

TEST_F(ReadStateTest, LoadTakesOnlyStringsUpTo24000Bytes) {
  const std::string largest = TokensOfLength(23999);  // 24,000 bytes with the terminator
  StoreRaw(REG_SZ, largest.c_str(), largest.size() + 1);
  LoadReadState(nullptr);
  EXPECT_EQ(ReadStateStore.tokens, largest);

  const std::string tooLarge = TokensOfLength(24000);
  StoreRaw(REG_SZ, tooLarge.c_str(), tooLarge.size() + 1);
  ReadStateStore.tokens.clear();
  LoadReadState(nullptr);
  EXPECT_EQ(ReadStateStore.tokens, "");
  // The next mark replaces the stored value with this run's tokens alone.
  MarkMessageRead(Record(8, 8));
  EXPECT_EQ(StoredText(), ReadStateToken(Record(8, 8)));

  const std::string text = ReadStateToken(Record(1, 1));
  const DWORD number = 7;
  StoreRaw(REG_DWORD, &number, sizeof(number));
  ReadStateStore.tokens.clear();
  LoadReadState(nullptr);
  EXPECT_EQ(ReadStateStore.tokens, "");
  StoreRaw(REG_BINARY, text.c_str(), text.size() + 1);
  LoadReadState(nullptr);
  EXPECT_EQ(ReadStateStore.tokens, "");

  // A missing value leaves what is in memory alone.
  RegDeleteKeyValueA(HKEY_CURRENT_USER, READ_STATE_KEY_PATH, READ_STATE_VALUE_NAME);
  ReadStateStore.tokens = text;
  LoadReadState(nullptr);
  EXPECT_EQ(ReadStateStore.tokens, text);
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
