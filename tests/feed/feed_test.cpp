#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <tuple>

#include "core/app_state.h"
#include "messages/feed_request.h"
#include "messages/feed_worker.h"
#include "messages/message_window.h"
#include "resources/version.h"
#include "tests/support/test_support.h"

// Against feed_server.py: one HTTPS port per scenario on 127.0.0.1, certificates for
// "localhost" from a test authority that this executable trusts in its prefix for the run.
namespace {

std::string ServerFile(const std::string& name) {
  return ReadBytes(BuildFolder() + L"tests\\feed\\feed-server\\" +
                   std::wstring(name.begin(), name.end()));
}

std::map<std::string, INTERNET_PORT> ports;

class FeedServerEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    std::istringstream list(ServerFile("ports.txt"));
    std::string scenario;
    unsigned port = 0;
    while (list >> scenario >> port) ports[scenario] = static_cast<INTERNET_PORT>(port);
    ASSERT_FALSE(ports.empty()) << "the feed test server does not run (feed_server.py runs it)";
    const std::string der = ServerFile("test-ca.der");
    store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    ASSERT_TRUE(store_ &&
                CertAddEncodedCertificateToStore(
                    store_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                    static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, &authority_));
    // WinHTTP's chain engine reads the registry copy: write it now.
    ASSERT_TRUE(CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr));
  }
  void TearDown() override {
    CertDeleteCertificateFromStore(authority_);
    CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(store_, 0);
  }

 private:
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT authority_ = nullptr;
};
testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new FeedServerEnvironment);

MessageServiceAddress Scenario(const std::string& name) { return {L"localhost", ports[name]}; }

int RequestCount(const std::string& scenario) {
  std::istringstream log(ServerFile("requests.log"));
  int count = 0;
  for (std::string line; std::getline(log, line);) count += line.rfind(scenario + "\t", 0) == 0;
  return count;
}

std::string Call(const MessageServiceAddress& address) {
  return CallMessageService(address, L"feed", std::string());
}

TEST(FeedRequest, OnTheWireAndWholeBodiesUpToTheLimit) {
  const std::string raw = Call(Scenario("echo"));
  const size_t headEnd = raw.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos) << raw;
  const std::string head = raw.substr(0, headEnd + 2);
  EXPECT_EQ(head.substr(0, head.find("\r\n")), "POST /api/velmorralab-ops/messages/feed HTTP/1.1");
  for (const char* line : {"\r\nUser-Agent: Dropleaf/" DROPLEAF_PRODUCT_VERSION " Messages\r\n",
                           "\r\nContent-Type: application/json\r\n", "\r\nContent-Length: 36\r\n"})
    EXPECT_NE(head.find(line), std::string::npos) << line << head;
  EXPECT_EQ(raw.substr(headEnd + 4), "{\"tool_id\":\"dropleaf\",\"native\":true}");
  EXPECT_TRUE(Call(Scenario("exact")) == ServerFile("exact_body.bin")) << "1,500,000 bytes";
}

TEST(FeedRequest, EveryFailureGivesEmpty) {
  // Failing answers carry a good feed: only the failure can turn them down. A redirect is
  // not followed; a certificate from an untrusted authority or for another name ends the
  // exchange before any request. {scenario, host, requests the server sees}
  const std::tuple<const char*, const wchar_t*, int> cases[] = {
      {"status204", L"localhost", 1},   {"status301", L"localhost", 1},
      {"status500", L"localhost", 1},   {"over", L"localhost", 1},
      {"overchunked", L"localhost", 1}, {"empty", L"localhost", 1},
      {"cutshort", L"localhost", 1},    {"untrusted", L"localhost", 0},
      {"good", L"127.0.0.1", 0}};
  for (const auto& [scenario, host, requests] : cases) {
    MessageServiceAddress address = Scenario(scenario);
    address.host = host;
    const int before = RequestCount(scenario);
    EXPECT_EQ(Call(address), "") << scenario;
    EXPECT_EQ(RequestCount(scenario), before + requests) << scenario;
  }
}

int feedDone = 0;

class FeedWorker : public testing::Test {
 protected:
  void SetUp() override {
    window.onMessage = [](UINT message, WPARAM) {
      if (message == WM_FEED_DONE) ++feedDone, OnFeedDone();
    };
    FeedState.messages = {{"msg-aaaaaaaaaaaaaaaaaaaaaaaa", 7, L"旧消息"}};
  }
  void TearDown() override {
    WaitUntil([] { return !FeedState.refreshRunning; }, 15000);
    PumpMessagesFor(50);
    SetMessageServiceAddress(DefaultMessageServiceAddress());
  }
  // Refreshes against the scenario and waits for the outcome; the number of messages after it.
  size_t RefreshAgainst(const char* scenario) {
    SetMessageServiceAddress(Scenario(scenario));
    feedDone = 0;
    StartFeedRefresh(window.Get());
    EXPECT_TRUE(WaitUntil([] { return feedDone > 0 && !FeedState.refreshRunning; }, 12000));
    return FeedState.messages.size();
  }
  TestWindow window{L"Dropleaf.Test.Hidden", HWND_MESSAGE};
};

TEST_F(FeedWorker, OnlyAnExactOkMarkerReplacesTheList) {
  // {scenario, messages after}: "ok": true with a space, or a body cut short, fail.
  const std::pair<const char*, size_t> cases[] = {
      {"okspace", 1}, {"cutshort", 1}, {"status500", 1}, {"good", 3}, {"nofeed", 0}};
  for (const auto& [scenario, count] : cases) {
    EXPECT_EQ(RefreshAgainst(scenario), count) << scenario;
    EXPECT_EQ(feedDone, 1) << scenario;
  }
}

// Three seconds of silence, before the head or in the body, end a refresh, and the next one
// starts at once; refreshes asked for while one runs start no second exchange beside it.
TEST_F(FeedWorker, SilenceEndsARefreshInThreeSecondsAndRefreshesNeverOverlap) {
  for (const char* scenario : {"silent", "silentbody"}) {
    const long long start = NowMs();
    EXPECT_EQ(RefreshAgainst(scenario), 1u);
    EXPECT_TRUE(NowMs() - start >= 2500 && NowMs() - start < 4500) << scenario << NowMs() - start;
  }
  const int before = RequestCount("good");
  SetMessageServiceAddress(Scenario("good"));
  feedDone = 0;
  for (int asked = 0; asked < 4; ++asked) StartFeedRefresh(window.Get());
  EXPECT_TRUE(WaitUntil([] { return feedDone > 0 && !FeedState.refreshRunning; }, 5000));
  PumpMessagesFor(300);
  EXPECT_EQ(feedDone, 1);
  EXPECT_EQ(RequestCount("good"), before + 1);
  EXPECT_EQ(FeedState.messages.size(), 3u);
}

// Refreshes one after another against a server that trickles its headers, each right as the
// last gives up: every round fails, the first at the deadline and the others at once while
// the given-up exchange still runs (a second exchange beside it would take 10 s itself).
TEST_F(FeedWorker, RefreshesAgainstATricklingServerFailWithoutPilingUp) {
  for (int round = 0; round < 5; ++round) {
    const long long start = NowMs();
    EXPECT_EQ(RefreshAgainst("dribbleheaders"), 1u) << "the old list stays";
    const long long took = NowMs() - start;
    EXPECT_TRUE(round == 0 ? took >= 9000 && took <= 11000 : took < 1000) << round << " " << took;
  }
  // Once the given-up exchange has ended, the next one can start: the good server answers.
  EXPECT_TRUE(WaitUntil([] { return !Call(Scenario("good")).empty(); }, 30000));
}

}  // namespace
