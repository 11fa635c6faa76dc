#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <tuple>

#include "messages/feed_request.h"
#include "tests/feed/feed_test_support.h"

namespace {

std::string Call(const MessageServiceAddress& address) {
  return CallMessageService(address, L"feed", std::string());
}

TEST(MessageServiceRequest, RequestOnTheWireIsExactlyTheFeedCall) {
  const std::string raw = Call(ScenarioAddress("echo"));
  const size_t headEnd = raw.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos) << raw;
  const std::string head = raw.substr(0, headEnd + 2);  // every line ends with CRLF
  EXPECT_EQ(head.substr(0, head.find("\r\n")), "POST /api/velmorralab-ops/messages/feed HTTP/1.1");
  for (const char* line :
       {"\r\nUser-Agent: Dropleaf/0.2.0 Messages\r\n", "\r\nContent-Type: application/json\r\n",
        "\r\nContent-Length: 36\r\n", "\r\nHost: localhost:"}) {
    EXPECT_NE(head.find(line), std::string::npos) << line << head;
  }
  EXPECT_EQ(head.find("Content-Type:"), head.rfind("Content-Type:")) << "one Content-Type";
  EXPECT_EQ(raw.substr(headEnd + 4), "{\"tool_id\":\"dropleaf\",\"native\":true}");
  EXPECT_EQ(MessageServiceBody(",\"x\":1"), "{\"tool_id\":\"dropleaf\",\"native\":true,\"x\":1}");
}

TEST(MessageServiceRequest, GoodFeedAndBodyOfExactlyTheLimitAreReturnedWhole) {
  const std::string good = ServerFile("good_body.bin");
  ASSERT_FALSE(good.empty());
  EXPECT_EQ(Call(ScenarioAddress("good")), good);
  const std::string exact = ServerFile("exact_body.bin");
  ASSERT_EQ(exact.size(), 1500000u);
  const std::string response = Call(ScenarioAddress("exact"));
  EXPECT_EQ(response.size(), exact.size());
  EXPECT_TRUE(response == exact);  // not EXPECT_EQ: no 1.5 MB dump on failure
}

TEST(MessageServiceRequest, EveryFailureGivesEmpty) {
  // Bodies of failing statuses carry a good feed, so only the status can turn them down. A
  // redirect is not followed (no second request); a certificate from an untrusted authority
  // or for another name (it names "localhost" only) ends the exchange before any request.
  // {scenario, host name, requests the server sees}
  const std::tuple<const char*, const wchar_t*, int> cases[] = {
      {"status204", L"localhost", 1}, {"status301", L"localhost", 1},
      {"status302", L"localhost", 1}, {"status500", L"localhost", 1},
      {"over", L"localhost", 1},      {"overchunked", L"localhost", 1},
      {"empty", L"localhost", 1},     {"untrusted", L"localhost", 0},
      {"good", L"127.0.0.1", 0}};
  for (const auto& [scenario, host, requests] : cases) {
    MessageServiceAddress address = ScenarioAddress(scenario);
    address.host = host;
    const int before = RequestCount(scenario);
    EXPECT_EQ(Call(address), "") << scenario;
    EXPECT_EQ(RequestCount(scenario), before + requests) << scenario;
  }
}

TEST(MessageServiceRequest, SlowAnswerOrStalledBodyEndsAtTheReceiveTimeout) {
  auto timed = [](const char* scenario) {
    const long long start = NowMs();
    const std::string response = Call(ScenarioAddress(scenario));
    return std::make_tuple(scenario, response, NowMs() - start);
  };
  auto stalled = std::async(std::launch::async, timed, "stalled");  // side by side
  for (const auto& [scenario, response, ms] : {timed("slow"), stalled.get()}) {
    EXPECT_EQ(response, "") << scenario;
    EXPECT_GE(ms, 2500) << scenario;  // the 3-second time-out, not an early failure
    EXPECT_LT(ms, 4400) << scenario;  // the server answers only after 4.5 s
  }
}

struct Winsock {
  WSADATA data;
  int error = WSAStartup(MAKEWORD(2, 2), &data);
  ~Winsock() {
    if (!error) WSACleanup();
  }
};

struct ScopedSocket {
  SOCKET socket;
  ~ScopedSocket() {
    if (socket != INVALID_SOCKET) closesocket(socket);
  }
};

// The test prefix sends WinHTTP's default traffic to the closed port 9 on loopback (see
// cmake/wine-run.sh), so nothing a test starts reaches the real service or asks DNS for it.
TEST(LoopbackProxy, ProductionHostOnlyEverReachesTheLoopbackProxy) {
  long long start = NowMs();
  EXPECT_EQ(Call(DefaultMessageServiceAddress()), "");
  EXPECT_LT(NowMs() - start, 1000) << "nothing listens: fails at once";

  Winsock winsock;
  ASSERT_EQ(winsock.error, 0);
  ScopedSocket listener{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(9);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener.socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0)
      << "port 9 taken: " << WSAGetLastError();
  ASSERT_EQ(listen(listener.socket, 4), 0);
  // Take one connection, read its request head, then hang up like a dead proxy.
  std::string seen;
  std::thread proxy([&] {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(listener.socket, &ready);
    timeval wait = {5, 0};
    if (select(0, &ready, nullptr, nullptr, &wait) != 1) return;
    ScopedSocket client{accept(listener.socket, nullptr, nullptr)};
    DWORD timeout = 3000;
    setsockopt(client.socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof(timeout));
    char buffer[2048];
    int got = 0;
    while (seen.find("\r\n\r\n") == std::string::npos &&
           (got = recv(client.socket, buffer, sizeof(buffer), 0)) > 0) {
      seen.append(buffer, got);
    }
  });
  start = NowMs();
  EXPECT_EQ(Call(DefaultMessageServiceAddress()), "");
  EXPECT_LT(NowMs() - start, 1000);
  proxy.join();
  // The host name went to the proxy as text: nothing had to look it up.
  EXPECT_EQ(seen.substr(0, seen.find("\r\n")), "CONNECT api.velmorralab.com:443 HTTP/1.1") << seen;
}

}  // namespace
