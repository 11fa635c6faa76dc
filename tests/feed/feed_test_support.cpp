#include "tests/feed/feed_test_support.h"

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "app/app_state.h"
#include "messages/feed_worker.h"

namespace {

class ScopedFile {
 public:
  explicit ScopedFile(HANDLE file) : file_(file) {}
  ~ScopedFile() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  HANDLE Get() const { return file_; }

 private:
  HANDLE file_;
};

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// DROPLEAF_BUILD_DIR is a Unix path; Wine shows the Unix root as drive Z:.
std::wstring ServerDirectory() {
  const char* build = std::getenv("DROPLEAF_BUILD_DIR");
  if (!build || !*build) return {};
  std::wstring path = L"Z:" + Widen(build) + L"/tests/feed/feed-server";
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

std::map<std::string, INTERNET_PORT>& Ports() {
  static std::map<std::string, INTERNET_PORT> ports;
  return ports;
}

int feedDoneCount = 0;

LRESULT CALLBACK FeedTestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_FEED_DONE) {
    ++feedDoneCount;
    OnFeedDone();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Reads the server's port list and trusts its test authority for this test run, in the
// current user's root store of the test prefix; removes the authority again at the end.
class FeedServerEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    const std::wstring directory = ServerDirectory();
    ASSERT_FALSE(directory.empty()) << "DROPLEAF_BUILD_DIR is not set";
    std::istringstream ports(ReadWholeFile(directory + L"\\ports.txt"));
    std::string scenario;
    unsigned port = 0;
    while (ports >> scenario >> port) Ports()[scenario] = static_cast<INTERNET_PORT>(port);
    ASSERT_FALSE(Ports().empty()) << "the feed test server does not run (feed_server.py start)";

    const std::string der = ReadWholeFile(directory + L"\\test-ca.der");
    ASSERT_FALSE(der.empty());
    store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    ASSERT_NE(store_, nullptr);
    // Already there when this is a child process of the run that added it: then that run
    // removes it, not this one.
    if (!CertAddEncodedCertificateToStore(
            store_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
            static_cast<DWORD>(der.size()), CERT_STORE_ADD_NEW, &authority_)) {
      ASSERT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));
      return;
    }
    // The registry copy is what the chain engine of WinHTTP reads: write it now.
    ASSERT_TRUE(CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr));
  }

  void TearDown() override {
    if (authority_) CertDeleteCertificateFromStore(authority_);  // frees the context too
    authority_ = nullptr;
    if (store_) CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    if (store_) CertCloseStore(store_, 0);
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
  auto found = Ports().find(scenario);
  EXPECT_NE(found, Ports().end()) << "no scenario " << scenario;
  return {L"localhost", found == Ports().end() ? INTERNET_PORT(0) : found->second};
}

int RequestCount(const std::string& scenario) {
  std::istringstream log(ReadWholeFile(ServerDirectory() + L"\\requests.log"));
  std::string line;
  int count = 0;
  while (std::getline(log, line)) {
    if (line.compare(0, scenario.size() + 1, scenario + "\t") == 0) ++count;
  }
  return count;
}

std::string ServerFile(const std::wstring& name) {
  return ReadWholeFile(ServerDirectory() + L"\\" + name);
}

std::string ReadWholeFile(const std::wstring& path) {
  ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE) return {};
  std::string contents;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    contents.append(buffer, read);
  }
  return contents;
}

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

HWND FeedTestWindow() {
  static HWND window = [] {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = FeedTestWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"Dropleaf.FeedTestWindow";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
  }();
  return window;
}

int FeedDoneCount() { return feedDoneCount; }
void ResetFeedDoneCount() { feedDoneCount = 0; }

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const long long deadline = NowMs() + timeoutMs;
  while (!done() && NowMs() < deadline) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return done();
}

void PumpFor(int milliseconds) {
  PumpUntil([] { return false; }, milliseconds);
}
