#include <gtest/gtest.h>

#include <string>

#include "app/service_hosts.h"
#include "messages/feed_request.h"
#include "tests/feed/feed_test_support.h"

namespace {

const char FEED_BODY[] = "{\"tool_id\":\"dropleaf\",\"native\":true}";

std::string CallScenario(const std::string& scenario) {
  return CallMessageService(ScenarioAddress(scenario), L"feed", std::string());
}

TEST(MessageServiceRequest, PathAndBodyAreBuiltByConcatenation) {
  EXPECT_EQ(MessageServicePath(L"feed"), L"/api/velmorralab-ops/messages/feed");
  EXPECT_EQ(MessageServiceBody(""), FEED_BODY);
  EXPECT_EQ(MessageServiceBody("").size(), 36u);
  EXPECT_EQ(MessageServiceBody(",\"x\":1"), "{\"tool_id\":\"dropleaf\",\"native\":true,\"x\":1}");
}

TEST(MessageServiceRequest, ProgramUsesTheMakersHostOnTheHttpsPort) {
  const MessageServiceAddress address = DefaultMessageServiceAddress();
  EXPECT_EQ(address.host, MESSAGE_SERVICE_HOST);
  EXPECT_EQ(address.port, 443);
}

TEST(MessageServiceRequest, RequestOnTheWireIsExactlyTheFeedCall) {
  const std::string raw = CallScenario("echo");
  ASSERT_FALSE(raw.empty());
  const size_t headEnd = raw.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos);
  const std::string head = raw.substr(0, headEnd + 2);  // every line ends with CRLF
  const std::string body = raw.substr(headEnd + 4);

  EXPECT_EQ(head.substr(0, head.find("\r\n")), "POST /api/velmorralab-ops/messages/feed HTTP/1.1");
  EXPECT_NE(head.find("\r\nUser-Agent: Dropleaf/0.2.0 Messages\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nContent-Type: application/json\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nContent-Length: 36\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("Content-Type:"), head.rfind("Content-Type:")) << "one Content-Type";
  EXPECT_NE(head.find("\r\nHost: localhost:"), std::string::npos) << head;
  EXPECT_EQ(body, FEED_BODY);
}

TEST(MessageServiceRequest, GoodFeedIsReturnedByteForByte) {
  const std::string expected = ServerFile(L"good_body.bin");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(CallScenario("good"), expected);
  // The body is handed on as received, whatever it says.
  EXPECT_EQ(CallScenario("escaped"), "{\"ok\":true,\"native_feed\":\"bXNn\\/LTE=\"}");
  EXPECT_EQ(CallScenario("okfalse").substr(0, 12), "{\"ok\":false,");
}

TEST(MessageServiceRequest, BodyOfExactlyTheLimitIsReturnedWhole) {
  const std::string expected = ServerFile(L"exact_body.bin");
  ASSERT_EQ(expected.size(), MESSAGE_SERVICE_RESPONSE_LIMIT);
  const std::string response = CallScenario("exact");
  EXPECT_EQ(response.size(), expected.size());
  EXPECT_TRUE(response == expected);  // not EXPECT_EQ: no 1.5 MB dump on failure
}

TEST(MessageServiceRequest, BodyPastTheLimitIsDiscarded) {
  EXPECT_EQ(CallScenario("over"), "");
  EXPECT_EQ(CallScenario("overchunked"), "") << "without a Content-Length too";
}

TEST(MessageServiceRequest, EveryStatusButOkGivesEmpty) {
  // Their bodies carry a good feed, so only the status can turn them down.
  for (const char* scenario : {"status204", "status500", "empty"}) {
    EXPECT_EQ(CallScenario(scenario), "") << scenario;
  }
}

TEST(MessageServiceRequest, RedirectIsNotFollowed) {
  for (const char* scenario : {"status301", "status302"}) {
    const int before = RequestCount(scenario);
    EXPECT_EQ(CallScenario(scenario), "") << scenario;
    EXPECT_EQ(RequestCount(scenario), before + 1) << scenario << ": no second request";
  }
}

TEST(MessageServiceRequest, CertificateFromAnUntrustedAuthorityGivesEmpty) {
  EXPECT_EQ(CallScenario("untrusted"), "");
  EXPECT_EQ(RequestCount("untrusted"), 0) << "no request may be sent over that connection";
}

TEST(MessageServiceRequest, HostNameMustMatchTheCertificate) {
  // The certificate names "localhost" only; the same server reached by its address fails.
  MessageServiceAddress address = ScenarioAddress("good");
  address.host = L"127.0.0.1";
  EXPECT_EQ(CallMessageService(address, L"feed", std::string()), "");
}

TEST(MessageServiceRequest, SlowAnswerEndsAtTheReceiveTimeout) {
  const long long start = NowMs();
  EXPECT_EQ(CallScenario("slow"), "");
  const long long elapsed = NowMs() - start;
  EXPECT_GE(elapsed, 2500);  // the 3-second receive time-out, not an early failure
  EXPECT_LT(elapsed, 4400);  // the server answers only after 4.5 s
}

TEST(MessageServiceRequest, BodyThatStallsEndsAtTheReceiveTimeout) {
  const long long start = NowMs();
  EXPECT_EQ(CallScenario("stalled"), "");
  const long long elapsed = NowMs() - start;
  EXPECT_GE(elapsed, 2500);
  EXPECT_LT(elapsed, 4400);
}

}  // namespace
