#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "messages/feed_request.h"
#include "tests/feed/feed_test_support.h"

// The test prefix sends WinHTTP's default traffic to a closed port on loopback, so that
// nothing a test starts ever reaches the real message service or asks DNS for its host.

namespace {

constexpr unsigned short PROXY_PORT = 9;

class ScopedSocket {
 public:
  explicit ScopedSocket(SOCKET socket = INVALID_SOCKET) : socket_(socket) {}
  ~ScopedSocket() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }
  ScopedSocket(const ScopedSocket&) = delete;
  ScopedSocket& operator=(const ScopedSocket&) = delete;
  SOCKET Get() const { return socket_; }

 private:
  SOCKET socket_;
};

class ScopedWinsock {
 public:
  ScopedWinsock() { ok_ = WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
  ~ScopedWinsock() {
    if (ok_) WSACleanup();
  }
  bool ok() const { return ok_; }

 private:
  WSADATA data_ = {};
  bool ok_ = false;
};

TEST(LoopbackProxy, DefaultProxyOfTheTestPrefixIsAClosedLoopbackPort) {
  WINHTTP_PROXY_INFO info = {};
  ASSERT_TRUE(WinHttpGetDefaultProxyConfiguration(&info));
  const std::wstring proxy = info.lpszProxy ? info.lpszProxy : L"";
  const std::wstring bypass = info.lpszProxyBypass ? info.lpszProxyBypass : L"";
  if (info.lpszProxy) GlobalFree(info.lpszProxy);
  if (info.lpszProxyBypass) GlobalFree(info.lpszProxyBypass);
  EXPECT_EQ(info.dwAccessType, static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NAMED_PROXY));
  EXPECT_EQ(proxy, L"127.0.0.1:9");
  EXPECT_EQ(bypass, L"localhost;127.0.0.1");
}

TEST(LoopbackProxy, ProductionHostFailsAtOnce) {
  const long long start = NowMs();
  EXPECT_EQ(CallMessageService(DefaultMessageServiceAddress(), L"feed", std::string()), "");
  EXPECT_LT(NowMs() - start, 1000);
}

TEST(LoopbackProxy, ProductionRequestGoesOnlyToTheLoopbackProxy) {
  ScopedWinsock winsock;
  ASSERT_TRUE(winsock.ok());
  ScopedSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  ASSERT_NE(listener.Get(), INVALID_SOCKET);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(PROXY_PORT);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0)
      << "port " << PROXY_PORT << " taken: " << WSAGetLastError();
  ASSERT_EQ(listen(listener.Get(), 4), 0);

  // Take one connection, read its request head, then hang up like a dead proxy.
  std::string seen;
  std::thread proxy([&] {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(listener.Get(), &ready);
    timeval wait = {5, 0};
    if (select(0, &ready, nullptr, nullptr, &wait) != 1) return;
    ScopedSocket client(accept(listener.Get(), nullptr, nullptr));
    if (client.Get() == INVALID_SOCKET) return;
    DWORD timeout = 3000;
    setsockopt(client.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof(timeout));
    char buffer[2048];
    while (seen.find("\r\n\r\n") == std::string::npos) {
      int got = recv(client.Get(), buffer, sizeof(buffer), 0);
      if (got <= 0) break;
      seen.append(buffer, got);
    }
  });

  const long long start = NowMs();
  const std::string response =
      CallMessageService(DefaultMessageServiceAddress(), L"feed", std::string());
  const long long elapsed = NowMs() - start;
  proxy.join();

  EXPECT_EQ(response, "");
  EXPECT_LT(elapsed, 1000);
  // The host name went to the proxy as text: nothing had to look it up.
  EXPECT_EQ(seen.substr(0, seen.find("\r\n")), "CONNECT api.velmorralab.com:443 HTTP/1.1") << seen;
}

}  // namespace
