#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "messages/feed_parser.h"
#include "messages/json_scan.h"
#include "tests/messages/messages_test_support.h"

using namespace feedtext;

namespace {

const std::string kId = "msg-0123456789abcdef01234567";
const std::string kEmoji = "\xF0\x9F\x98\x80";  // U+1F600: four UTF-8 bytes, two UTF-16 units
const std::string kXiaoxi = "\xE6\xB6\x88\xE6\x81\xAF";  // 消息

using Texts = std::vector<std::string>;

std::vector<MessageRecord> Parse(const std::string& feed) {
  return ParseNativeFeed(Response(feed));
}

}  // namespace

TEST(FindJsonValue, ScansTheFirstTextualKey) {
  const struct {
    const char* text;
    const char* value;
  } found[] = {{"{\"ok\":true,\"count\":3,\"k\":\"QUJD+/==\"}", "QUJD+/=="},
               {"{\"k\": \r\n\t\"a b\t\"}", "a b\t"},  // whitespace skipped before, kept inside
               {"{\"k\" :\n 12}", "12"},
               {"{\"k\":42 }", "42 "},  // unquoted values run to ',', '}', CR or LF
               {"{\"k\":42,\"m\":1}", "42"},
               {"{\"k\":[1,2]}", "[1"},
               {"{\"k\":[1]]", "[1]]"},
               {"{\"k\":true\r\n}", "true"},
               {"\"k\":12345", "12345"},
               {"{\"kx\":\"AAAA\",\"k\":\"BBBB\"}", "BBBB"},  // a longer key starting with this one
               // The key text standing as a value: the scan runs on to the next colon.
               {"{\"x\":\"k\",\"k\":\"QUJD\"}", "QUJD"},
               {"{\"x\":\"k\",\"y\":\"other\",\"k\":\"QUJD\"}", "other"},
               {"{\"inner\":{\"k\":\"deep\"},\"k\":\"top\"}", "deep"}};
  for (const auto& c : found) EXPECT_EQ(FindJsonValue(c.text, "k"), c.value) << c.text;
  // Empty and escaped strings, missing pieces, other keys: nothing.
  for (const char* text :
       {"{\"k\":\"\"}", "{\"k\":\"ab\\/cd\"}", "{\"k\":\"\\u0041\"}", "{\"k\":\"abc\\\"}", "",
        "{\"other\":1}", "{\"k\"", "{\"k\" ", "{\"k\":", "{\"k\": \r\n", "{\"k\":\"",
        "{\"k\":\"abc", "{\"kx\":\"AAAA\"}", "{\"K\":\"AAAA\"}"}) {
    EXPECT_EQ(FindJsonValue(text, "k"), "") << text;
  }
}

TEST(FeedPieces, IdsBase64AndUtf8) {
  for (const std::string& id : {kId, std::string("msg-ffffffffffffffffffffffff")}) {
    EXPECT_TRUE(IsValidMessageId(id)) << id;
    EXPECT_EQ(Parse(Line(id, "1", "t")).size(), 1u) << id;
  }
  // Uppercase, 27 and 29 characters, wrong prefix, a non-hex digit, an embedded NUL.
  for (const std::string& id :
       Texts{"msg-0123456789ABCDEF01234567", "msg-0123456789abcdeF01234567",
             "msg-0123456789abcdef0123456", "msg-0123456789abcdef012345678",
             "MSG-0123456789abcdef01234567", "msg_0123456789abcdef01234567",
             "msg-0123456789abcdeg01234567", std::string("msg-0123456789abcdef0123456\0", 28), "",
             "msg-"}) {
    EXPECT_FALSE(IsValidMessageId(id)) << id;
    EXPECT_TRUE(Parse(Line(id, "1", "t")).empty()) << id;
  }

  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(DecodeBase64(Base64(all)), all);
  EXPECT_EQ(DecodeBase64("QQ=="), "A");
  EXPECT_EQ(DecodeBase64("QUI="), "AB");
  EXPECT_EQ(DecodeBase64("QUJD"), "ABC");
  for (const char* bad : {"", "@@@@", "QU*D"}) EXPECT_EQ(DecodeBase64(bad), "") << bad;

  const struct {
    std::string utf8;
    std::wstring wide;
  } texts[] = {{"abc", L"abc"},
               {kXiaoxi, L"消息"},
               {kEmoji, L"\xD83D\xDE00"},
               {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
               {std::string(1, '\0'), std::wstring(1, L'\0')}};
  for (const auto& c : texts) EXPECT_EQ(Utf8ToWide(c.utf8), c.wide) << c.utf8;
  // Lone continuation byte, overlong NUL, truncated sequence, encoded surrogate.
  for (const char* bad : {"a\x80", "\xC0\x80", "ok\xE6\xB6", "\xED\xA0\x80"}) {
    EXPECT_EQ(Utf8ToWide(bad), L"") << bad;
  }
  std::string big(3 * 1000 * 1000, 'x');
  big[1234567] = '\0';
  const std::wstring wide = Utf8ToWide(big);
  ASSERT_EQ(wide.size(), big.size());
  EXPECT_EQ(wide[1234567], L'\0');
  EXPECT_EQ(wide.back(), L'x');
}

TEST(ParseNativeFeed, AcceptsOnlyWholeFeedsWithinTheLimits) {
  const std::string line = Line(kId, "1", "t");
  std::string pairs;  // 160 units
  for (int i = 0; i < 80; ++i) pairs += kEmoji;
  std::string hundred;
  for (unsigned i = 0; i < 100; ++i) hundred += Line(MessageId(i), std::to_string(i), "t") + "\n";
  const std::string exact = line + std::string(65536 - line.size(), 'x');  // the rest is ignored
  const struct {
    std::string feed;
    size_t count;
    size_t titleUnits;  // of the first record
  } accepted[] = {{line, 1, 1},
                  {line + "\n", 1, 1},
                  {line + "\n" + line, 2, 1},
                  {line + "\r", 1, 1},  // CR of a CRLF line end
                  {Line(kId, "1", std::string(160, 'a')), 1, 160},
                  {Line(kId, "1", pairs), 1, 160},
                  {hundred, 100, 1},
                  {exact, 1, 1}};
  for (const auto& c : accepted) {
    const auto records = Parse(c.feed);
    EXPECT_EQ(records.size(), c.count) << c.feed.substr(0, 120);
    EXPECT_EQ(records.at(0).title.size(), c.titleUnits) << c.feed.substr(0, 120);
  }
  EXPECT_EQ(Parse(hundred).at(99).id, MessageId(99));
  EXPECT_EQ(Parse(hundred).at(99).revision, 99u);
  // Empty lines, missing bars, one bad line among good ones, 161 units (a surrogate pair
  // counts two), undecodable or empty titles, 101 lines, 65,537 bytes: the whole feed goes.
  for (const std::string& feed :
       Texts{line + "\n\n", line + "\n\n" + line, "\n" + line, "\n", kId + "|1|" + Base64("t"),
             kId + "|1", line + "\n" + Line("msg-x", "1", "t"),
             Line(kId, "1", std::string(161, 'a')), Line(kId, "1", pairs + "a"),
             Line(kId, "1", "a" + pairs), Line(kId, "1", std::string(159, 'a') + kEmoji),
             Line(kId, "1", "\x80"), Line(kId, "1", "ab\xE6\xB6"), kId + "|1||", kId + "|1|@@@@|",
             kId + "|1|d*A=|", hundred + Line(MessageId(100), "1", "t"), exact + "x"}) {
    EXPECT_TRUE(Parse(feed).empty()) << feed.substr(0, 120);
  }

  const std::string encoded = Base64(line);
  EXPECT_EQ(ParseNativeFeed("{\"native_feed\":\"" + encoded + "\"}").size(), 1u);
  for (const std::string& response :
       Texts{"", "{\"ok\":true}", "{\"ok\":true,\"native_feed\":\"\"}",
             "{\"native_feed\":\"" + encoded.substr(0, 4) + "\\" + encoded.substr(4) + "\"}",
             "{\"native_feed\":\"" + encoded + "!\"}"}) {
    EXPECT_TRUE(ParseNativeFeed(response).empty()) << response;
  }
}

TEST(ParseNativeFeed, ReadsFieldsInFeedOrder) {
  // Fields after the title are ignored; duplicates stay.
  const auto records = Parse(Line(kId, "42", kXiaoxi + kEmoji) + "body|more|\r\n" +
                             Line(MessageId(1), "2", "u") + "\n" + Line(kId, "42", "again") + "\n");
  std::wstring fields;
  for (const MessageRecord& r : records) {
    fields += std::wstring(r.id.begin(), r.id.end()) + L":" + std::to_wstring(r.revision) + L":" +
              r.title + L"\n";
  }
  EXPECT_EQ(fields,
            L"msg-0123456789abcdef01234567:42:消息\xD83D\xDE00\n"
            L"msg-000000010000000100000001:2:u\n"
            L"msg-0123456789abcdef01234567:42:again\n");
  const std::pair<const char*, uint32_t> revisions[] = {
      {"7", 7}, {"99999999", 99999999}, {"00000000", 0}, {"00000012", 12}};
  for (const auto& r : revisions)
    EXPECT_EQ(Parse(Line(kId, r.first, "t")).at(0).revision, r.second);
  for (const char* bad : {"123456789", "000000000", "", "+1", "-1", " 1", "1 ", "1a", "0x1"}) {
    EXPECT_TRUE(Parse(Line(kId, bad, "t")).empty()) << "revision '" << bad << "'";
  }
}

// Mutated feeds, at the feed text and at the response: the parser must never crash and
// never hand out a record that breaks the record rules or a partial list.
TEST(ParseNativeFeed, MutatedFeedsNeverYieldBadRecords) {
  std::mt19937 random(20240611u);
  const std::vector<std::string> titles = {"t", kXiaoxi, kEmoji, std::string(160, 'z'),
                                           std::string(80, 'q') + kEmoji};
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
      for (size_t i = 0, n = 95 + pick(10); i < n; ++i) feed += Line(kId, "5", "t") + "\n";
    }

    const bool mutateResponse = pick(4) == 0;
    std::string target = mutateResponse ? Response(feed) : feed;
    for (size_t m = 0, count = 1 + pick(3); m < count && !target.empty(); ++m) {
      const size_t at = pick(target.size());
      const char c = interesting[pick(interesting.size())];
      const size_t op = pick(4);
      if (op == 0) target[at] = c;
      if (op == 1) target.insert(at, 1, c);
      if (op == 2) target.erase(at, 1 + pick(3));
      if (op == 3) target.resize(at);
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
      const auto lineFeeds = std::count(target.begin(), target.end(), '\n');
      ASSERT_EQ(records.size(), static_cast<size_t>(lineFeeds) + (target.back() == '\n' ? 0 : 1));
    }
    if (!records.empty()) ++accepted;
  }
  // The mutations must leave some feeds valid, or the check above proves nothing.
  EXPECT_GT(accepted, 100u);
}
