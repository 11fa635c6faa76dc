#include "tests/feed/feed_test_support.h"

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace {

std::map<std::string, INTERNET_PORT> ports;

// Trusts the server's test authority in the current user's root store of the test prefix
// for this run, and removes it again at the end.
class FeedServerEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    std::istringstream list(ServerFile("ports.txt"));
    std::string scenario;
    unsigned port = 0;
    while (list >> scenario >> port) ports[scenario] = static_cast<INTERNET_PORT>(port);
    ASSERT_FALSE(ports.empty()) << "the feed test server does not run (feed_server.py start)";

    const std::string der = ServerFile("test-ca.der");
    ASSERT_FALSE(der.empty());
    store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    ASSERT_NE(store_, nullptr);
    // Already there in a child process of the run that added it: that run removes it.
    if (!CertAddEncodedCertificateToStore(
            store_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
            static_cast<DWORD>(der.size()), CERT_STORE_ADD_NEW, &authority_)) {
      ASSERT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));
      return;
    }
    // WinHTTP's chain engine reads the registry copy: write it now.
    ASSERT_TRUE(CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr));
  }

  void TearDown() override {
    if (authority_) CertDeleteCertificateFromStore(authority_);  // frees the context too
    authority_ = nullptr;
    if (!store_) return;
    CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(store_, 0);
    store_ = nullptr;
  }

 private:
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT authority_ = nullptr;
};

testing::Environment* const feedServerEnvironment =
    testing::AddGlobalTestEnvironment(new FeedServerEnvironment);

}  // namespace

MessageServiceAddress ScenarioAddress(const std::string& scenario) {
  auto found = ports.find(scenario);
  EXPECT_NE(found, ports.end()) << "no scenario " << scenario;
  return {L"localhost", found == ports.end() ? INTERNET_PORT(0) : found->second};
}

int RequestCount(const std::string& scenario) {
  std::istringstream log(ServerFile("requests.log"));
  int count = 0;
  for (std::string line; std::getline(log, line);) {
    if (line.compare(0, scenario.size() + 1, scenario + "\t") == 0) ++count;
  }
  return count;
}

std::string ServerFile(const std::string& name) {
  // DROPLEAF_BUILD_DIR is a Unix path; Wine shows the Unix root as drive Z:.
  const char* build = std::getenv("DROPLEAF_BUILD_DIR");
  std::ifstream file(std::string("Z:") + (build ? build : "") + "/tests/feed/feed-server/" + name,
                     std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
