#include "messages/feed_request.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/handles.h"
#include "core/service_hosts.h"
#include "resources/version.h"

namespace {

constexpr wchar_t USER_AGENT[] = L"Dropleaf/" DROPLEAF_PRODUCT_VERSION " Messages";
constexpr wchar_t PATH_PREFIX[] = L"/api/velmorralab-ops/messages/";
constexpr wchar_t CONTENT_TYPE_HEADER[] = L"Content-Type: application/json\r\n";
constexpr char BODY_OPENING[] = "{\"tool_id\":\"dropleaf\",\"native\":true";

std::mutex addressLock;

// The address in force; read by the worker thread, so always under addressLock.
MessageServiceAddress& AddressSlot() {
  static MessageServiceAddress address = DefaultMessageServiceAddress();
  return address;
}

}  // namespace

MessageServiceAddress DefaultMessageServiceAddress() {
  return {MESSAGE_SERVICE_HOST, INTERNET_DEFAULT_HTTPS_PORT};
}

MessageServiceAddress CurrentMessageServiceAddress() {
  std::lock_guard<std::mutex> lock(addressLock);
  return AddressSlot();
}

void SetMessageServiceAddress(const MessageServiceAddress& address) {
  std::lock_guard<std::mutex> lock(addressLock);
  AddressSlot() = address;
}

std::wstring MessageServicePath(const std::wstring& endpoint) { return PATH_PREFIX + endpoint; }

std::string MessageServiceBody(const std::string& furtherMembers) {
  return BODY_OPENING + furtherMembers + "}";
}

std::string CallMessageService(const std::wstring& endpoint, const std::string& furtherMembers) {
  return CallMessageService(CurrentMessageServiceAddress(), endpoint, furtherMembers);
}

namespace {

using Clock = std::chrono::steady_clock;

// An exchange thread exists, given up by its caller or not. WinHTTP offers no way to end a
// synchronous call from outside (a handle may not be used after any thread closed it), so a
// given-up exchange runs until its own time-outs or the server end it; none starts beside
// it, or a server that trickles would pile up threads and sockets with every refresh.
std::atomic<bool> exchangeRunning{false};

// What the caller waits for; shared with the exchange thread, which may outlive the wait.
struct Outcome {
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  std::string response;
};

bool PastDeadline(Clock::time_point deadline) { return Clock::now() >= deadline; }

// The body as far as the server sends it; false on a failed read, the deadline, or a body
// over the limit. Only what has arrived is read: a full-size read waits for the whole chunk
// under some WinHTTP implementations, so a trickling body would never reach the deadline test.
bool ReadBody(HINTERNET request, Clock::time_point deadline, std::string& response) {
  char chunk[MESSAGE_SERVICE_READ_CHUNK];
  for (;;) {
    if (PastDeadline(deadline)) return false;
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return false;
    if (available == 0) return true;
    if (PastDeadline(deadline)) return false;
    DWORD read = 0;
    if (!WinHttpReadData(request, chunk, available < sizeof(chunk) ? available : sizeof(chunk),
                         &read)) {
      return false;
    }
    if (read == 0) return true;
    response.append(chunk, read);
    if (response.size() > MESSAGE_SERVICE_RESPONSE_LIMIT) return false;
  }
}

// A body that ended before the length the server announced was cut short.
bool ShorterThanAnnounced(HINTERNET request, size_t received) {
  DWORD announced = 0;
  DWORD size = sizeof(announced);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &announced, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return false;  // no Content-Length: the end of the body is the end of the connection
  }
  return received < announced;
}

// The whole exchange on the calling thread, which alone uses and closes its handles. The
// deadline is checked before every step, and each step is bounded by a 3-second time-out.
std::string RunExchange(const MessageServiceAddress& address, const std::wstring& path,
                        const std::string& body, Clock::time_point deadline) {
  ScopedInternetHandle session(WinHttpOpen(USER_AGENT, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                           WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session || PastDeadline(deadline)) return {};
  WinHttpSetTimeouts(session.Get(), MESSAGE_SERVICE_TIMEOUT_MS, MESSAGE_SERVICE_TIMEOUT_MS,
                     MESSAGE_SERVICE_TIMEOUT_MS, MESSAGE_SERVICE_TIMEOUT_MS);

  ScopedInternetHandle connection(
      WinHttpConnect(session.Get(), address.host.c_str(), address.port, 0));
  if (!connection || PastDeadline(deadline)) return {};

  ScopedInternetHandle request(WinHttpOpenRequest(connection.Get(), L"POST", path.c_str(), nullptr,
                                                  WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                  WINHTTP_FLAG_SECURE));
  if (!request || PastDeadline(deadline)) return {};
  DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                   sizeof(redirectPolicy));
  // The wait for the status line and headers has its own time-out, which some WinHTTP
  // implementations do not take from the receive time-out above; without it a server that
  // never answers would hold the exchange past 3 seconds of silence.
  DWORD responseTimeout = MESSAGE_SERVICE_TIMEOUT_MS;
  WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                   sizeof(responseTimeout));

  const DWORD bodyLength = static_cast<DWORD>(body.size());
  if (!WinHttpSendRequest(request.Get(), CONTENT_TYPE_HEADER, static_cast<DWORD>(-1L),
                          const_cast<char*>(body.data()), bodyLength, bodyLength, 0) ||
      PastDeadline(deadline) || !WinHttpReceiveResponse(request.Get(), nullptr) ||
      PastDeadline(deadline)) {
    return {};
  }

  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                           WINHTTP_NO_HEADER_INDEX) ||
      status != HTTP_STATUS_OK) {
    return {};
  }

  std::string response;
  if (!ReadBody(request.Get(), deadline, response) ||
      ShorterThanAnnounced(request.Get(), response.size())) {
    return {};
  }
  return response;
}

}  // namespace

std::string CallMessageService(const MessageServiceAddress& address, const std::wstring& endpoint,
                               const std::string& furtherMembers) {
  // One exchange at a time: while a given-up one still runs, this call fails at once.
  if (exchangeRunning.exchange(true)) return {};
  const auto deadline = Clock::now() + std::chrono::milliseconds(MESSAGE_SERVICE_DEADLINE_MS);
  auto outcome = std::make_shared<Outcome>();
  // A thread of its own, so that the caller can stop waiting at the deadline: a blocked
  // synchronous call cannot be ended from here.
  try {
    std::thread([address, path = MessageServicePath(endpoint),
                 body = MessageServiceBody(furtherMembers), deadline, outcome] {
      std::string response;
      try {
        response = RunExchange(address, path, body, deadline);
      } catch (...) {
        response.clear();  // out of memory: the exchange failed
      }
      exchangeRunning.exchange(false);  // its handles are closed by now
      std::lock_guard<std::mutex> guard(outcome->lock);
      outcome->response = std::move(response);
      outcome->done = true;
      outcome->finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    exchangeRunning.exchange(false);
    return {};
  }

  std::unique_lock<std::mutex> lock(outcome->lock);
  if (!outcome->finished.wait_until(lock, deadline, [&] { return outcome->done; })) return {};
  return std::move(outcome->response);
}
