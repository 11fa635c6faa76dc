#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "messages/feed_parser.h"
#include "tests/messages/feed_text.h"

using feedtext::Base64;
using feedtext::Line;
using feedtext::MessageId;
using feedtext::Response;

namespace {

const std::string kId = "msg-0123456789abcdef01234567";

std::vector<MessageRecord> Parse(const std::string& feed) {
  return ParseNativeFeed(Response(feed));
}

// U+1F600, four UTF-8 bytes, two UTF-16 units.
const std::string kEmoji = "\xF0\x9F\x98\x80";

}  // namespace

TEST(IsValidMessageId, AcceptsOnlyLowercaseHexOfExactLength) {
  EXPECT_TRUE(IsValidMessageId(kId));
  EXPECT_TRUE(IsValidMessageId("msg-ffffffffffffffffffffffff"));
  EXPECT_FALSE(IsValidMessageId("msg-0123456789ABCDEF01234567"));
  EXPECT_FALSE(IsValidMessageId("msg-0123456789abcdef0123456"));    // 27
  EXPECT_FALSE(IsValidMessageId("msg-0123456789abcdef012345678"));  // 29
  EXPECT_FALSE(IsValidMessageId("MSG-0123456789abcdef01234567"));
  EXPECT_FALSE(IsValidMessageId("msg_0123456789abcdef01234567"));
  EXPECT_FALSE(IsValidMessageId("msg-0123456789abcdeg01234567"));
  EXPECT_FALSE(IsValidMessageId(std::string("msg-0123456789abcdef0123456\0", 28)));
  EXPECT_FALSE(IsValidMessageId(""));
  EXPECT_FALSE(IsValidMessageId("msg-"));
}

TEST(DecodeBase64, DecodesStandardTextAndRefusesOthers) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(DecodeBase64(Base64(all)), all);
  EXPECT_EQ(DecodeBase64("QQ=="), "A");
  EXPECT_EQ(DecodeBase64("QUI="), "AB");
  EXPECT_EQ(DecodeBase64("QUJD"), "ABC");
  EXPECT_EQ(DecodeBase64(""), "");
  EXPECT_EQ(DecodeBase64("@@@@"), "");
  EXPECT_EQ(DecodeBase64("QU*D"), "");
}

TEST(Utf8ToWide, ConvertsWholeInputOrNothing) {
  EXPECT_EQ(Utf8ToWide("abc"), L"abc");
  EXPECT_EQ(Utf8ToWide("\xE6\xB6\x88\xE6\x81\xAF"), L"消息");
  EXPECT_EQ(Utf8ToWide(kEmoji), std::wstring(L"\xD83D\xDE00"));
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
  EXPECT_EQ(Utf8ToWide(std::string(1, '\0')), std::wstring(1, L'\0'));
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(Utf8ToWide("a\x80"), L"");         // lone continuation byte
  EXPECT_EQ(Utf8ToWide("\xC0\x80"), L"");      // overlong NUL
  EXPECT_EQ(Utf8ToWide("ok\xE6\xB6"), L"");    // truncated sequence at the end
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"");  // encoded surrogate
}

TEST(Utf8ToWide, ConvertsLargeInput) {
  std::string big(3 * 1000 * 1000, 'x');
  big[1234567] = '\0';
  const std::wstring wide = Utf8ToWide(big);
  ASSERT_EQ(wide.size(), big.size());
  EXPECT_EQ(wide[1234567], L'\0');
  EXPECT_EQ(wide.back(), L'x');
}

TEST(ParseNativeFeed, ReadsOneLineWithOrWithoutFinalLineFeed) {
  const std::string line = Line(kId, "42", "\xE6\xB6\x88\xE6\x81\xAF");
  for (const std::string& feed : {line, line + "\n"}) {
    const auto records = Parse(feed);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].id, kId);
    EXPECT_EQ(records[0].revision, 42u);
    EXPECT_EQ(records[0].title, L"消息");
  }
}

TEST(ParseNativeFeed, EmptyLinesRejectTheFeed) {
  const std::string line = Line(kId, "1", "t");
  EXPECT_TRUE(Parse(line + "\n\n").empty());
  EXPECT_TRUE(Parse(line + "\n\n" + line).empty());
  EXPECT_TRUE(Parse("\n" + line).empty());
  EXPECT_TRUE(Parse("\n").empty());
  EXPECT_EQ(Parse(line + "\n" + line).size(), 2u);
}

TEST(ParseNativeFeed, NeedsThreeBarsAndIgnoresTheRest) {
  EXPECT_EQ(Parse(kId + "|1|" + Base64("t") + "|").size(), 1u);
  EXPECT_TRUE(Parse(kId + "|1|" + Base64("t")).empty());
  EXPECT_TRUE(Parse(kId + "|1").empty());
  const auto records = Parse(kId + "|1|" + Base64("t") + "|body|more|\r\n" + Line(kId, "2", "u"));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].title, L"t");
  EXPECT_EQ(records[1].revision, 2u);
  EXPECT_EQ(Parse(Line(kId, "3", "t") + "\r").size(), 1u);  // CR of a CRLF line end
}

TEST(ParseNativeFeed, RejectsBadIds) {
  EXPECT_TRUE(Parse(Line("msg-0123456789abcdeF01234567", "1", "t")).empty());
  EXPECT_TRUE(Parse(Line("msg-0123456789abcdef0123456", "1", "t")).empty());
  EXPECT_TRUE(Parse(Line("msg-0123456789abcdef012345678", "1", "t")).empty());
  EXPECT_TRUE(Parse(Line("xyz-0123456789abcdef01234567", "1", "t")).empty());
  EXPECT_TRUE(Parse(Line("", "1", "t")).empty());
  // One bad line among good ones discards all of them.
  EXPECT_TRUE(Parse(Line(kId, "1", "t") + "\n" + Line("msg-x", "1", "t")).empty());
}

TEST(ParseNativeFeed, RevisionsOfOneToEightDigits) {
  EXPECT_EQ(Parse(Line(kId, "7", "t")).at(0).revision, 7u);
  EXPECT_EQ(Parse(Line(kId, "99999999", "t")).at(0).revision, 99999999u);
  EXPECT_EQ(Parse(Line(kId, "00000000", "t")).at(0).revision, 0u);
  EXPECT_EQ(Parse(Line(kId, "00000012", "t")).at(0).revision, 12u);
  for (const char* bad : {"123456789", "000000000", "", "+1", "-1", " 1", "1 ", "1a", "0x1"}) {
    EXPECT_TRUE(Parse(Line(kId, bad, "t")).empty()) << "revision '" << bad << "'";
  }
}

TEST(ParseNativeFeed, TitleOfOneTo160Units) {
  EXPECT_EQ(Parse(Line(kId, "1", std::string(160, 'a'))).at(0).title.size(), 160u);
  EXPECT_TRUE(Parse(Line(kId, "1", std::string(161, 'a'))).empty());

  std::string pairs;
  for (int i = 0; i < 80; ++i) pairs += kEmoji;
  const auto records = Parse(Line(kId, "1", pairs));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].title.size(), 160u);
  EXPECT_EQ(records[0].title[0], 0xD83D);
  EXPECT_TRUE(Parse(Line(kId, "1", pairs + "a")).empty());
  EXPECT_TRUE(Parse(Line(kId, "1", "a" + pairs)).empty());
  // 159 single units and one pair: 161.
  EXPECT_TRUE(Parse(Line(kId, "1", std::string(159, 'a') + kEmoji)).empty());
}

TEST(ParseNativeFeed, RejectsUndecodableTitles) {
  EXPECT_TRUE(Parse(Line(kId, "1", "\x80")).empty());
  EXPECT_TRUE(Parse(Line(kId, "1", "ab\xE6\xB6")).empty());
  EXPECT_TRUE(Parse(kId + "|1||").empty());      // empty title field
  EXPECT_TRUE(Parse(kId + "|1|@@@@|").empty());  // not Base64
  EXPECT_TRUE(Parse(kId + "|1|d*A=|").empty());
}

TEST(ParseNativeFeed, AtMostOneHundredLines) {
  std::string feed;
  for (unsigned i = 0; i < 100; ++i) feed += Line(MessageId(i), std::to_string(i), "t") + "\n";
  const auto records = Parse(feed);
  ASSERT_EQ(records.size(), 100u);
  EXPECT_EQ(records[99].id, MessageId(99));
  EXPECT_EQ(records[99].revision, 99u);
  EXPECT_TRUE(Parse(feed + Line(MessageId(100), "100", "t")).empty());
}

TEST(ParseNativeFeed, AtMost65536DecodedBytes) {
  const std::string line = Line(kId, "1", "t");
  const std::string exact = line + std::string(65536 - line.size(), 'x');
  ASSERT_EQ(exact.size(), 65536u);
  EXPECT_EQ(Parse(exact).size(), 1u);
  EXPECT_TRUE(Parse(exact + "x").empty());
}

TEST(ParseNativeFeed, KeepsDuplicatesInFeedOrder) {
  const auto records = Parse(Line(kId, "1", "first") + "\n" + Line(kId, "1", "second"));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].title, L"first");
  EXPECT_EQ(records[1].title, L"second");
}

TEST(ParseNativeFeed, MissingOrUnusableFeedMemberGivesNothing) {
  EXPECT_TRUE(ParseNativeFeed("").empty());
  EXPECT_TRUE(ParseNativeFeed("{\"ok\":true}").empty());
  EXPECT_TRUE(ParseNativeFeed("{\"ok\":true,\"native_feed\":\"\"}").empty());
  const std::string encoded = Base64(Line(kId, "1", "t"));
  EXPECT_EQ(ParseNativeFeed("{\"native_feed\":\"" + encoded + "\"}").size(), 1u);
  std::string escaped = encoded;
  escaped.insert(4, "\\");
  EXPECT_TRUE(ParseNativeFeed("{\"native_feed\":\"" + escaped + "\"}").empty());
  EXPECT_TRUE(ParseNativeFeed("{\"native_feed\":\"" + encoded + "!\"}").empty());
}

// Mutated feeds, at the feed text and at the response: the parser must never crash and
// never hand out a record that breaks the record rules or a partial list.
TEST(ParseNativeFeed, MutatedFeedsNeverYieldBadRecords) {
  std::mt19937 random(20240611u);
  const std::vector<std::string> titles = {"t", "\xE6\xB6\x88\xE6\x81\xAF", kEmoji,
                                           std::string(160, 'z'), std::string(80, 'q') + kEmoji};
  const std::string interesting = "|\n\r0189afAF=+/-\\\" \x80\xC3\xF0";
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  size_t accepted = 0;

  for (int round = 0; round < 3000; ++round) {
    std::string feed;
    const size_t lines = 1 + pick(4);
    for (size_t i = 0; i < lines; ++i) {
      feed += Line(MessageId(static_cast<unsigned>(random())), std::to_string(random() % 100000000),
                   titles[pick(titles.size())]);
      if (i + 1 < lines || pick(2)) feed += "\n";
    }
    if (pick(8) == 0) {  // near the line limit
      const std::string line = Line(kId, "5", "t") + "\n";
      for (size_t i = 0, n = 95 + pick(10); i < n; ++i) feed += line;
    }

    const bool mutateResponse = pick(4) == 0;
    std::string target = mutateResponse ? Response(feed) : feed;
    for (size_t m = 0, count = 1 + pick(3); m < count && !target.empty(); ++m) {
      const size_t at = pick(target.size());
      switch (pick(4)) {
        case 0:
          target[at] = interesting[pick(interesting.size())];
          break;
        case 1:
          target.insert(at, 1, interesting[pick(interesting.size())]);
          break;
        case 2:
          target.erase(at, 1 + pick(3));
          break;
        default:
          target.resize(at);
          break;
      }
    }

    const auto records = mutateResponse ? ParseNativeFeed(target) : Parse(target);
    ASSERT_LE(records.size(), 100u);
    for (const MessageRecord& record : records) {
      ASSERT_TRUE(IsValidMessageId(record.id)) << record.id;
      ASSERT_LE(record.revision, 99999999u);
      ASSERT_GE(record.title.size(), 1u);
      ASSERT_LE(record.title.size(), 160u);
    }
    if (!mutateResponse && !records.empty()) {
      // Accepted only as a whole: one record for every line.
      size_t lineCount = 0;
      for (size_t start = 0; start < target.size(); ++lineCount) {
        const size_t end = target.find('\n', start);
        start = end == std::string::npos ? target.size() : end + 1;
      }
      ASSERT_EQ(records.size(), lineCount);
    }
    if (!records.empty()) ++accepted;
  }
  // The mutations must leave some feeds valid, or the check above proves nothing.
  EXPECT_GT(accepted, 100u);
}
