#include "messages/feed_request.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "app/service_hosts.h"

namespace {

constexpr wchar_t USER_AGENT[] = L"Dropleaf/0.2.0 Messages";
constexpr wchar_t PATH_PREFIX[] = L"/api/velmorralab-ops/messages/";
constexpr wchar_t CONTENT_TYPE_HEADER[] = L"Content-Type: application/json\r\n";
constexpr char BODY_OPENING[] = "{\"tool_id\":\"dropleaf\",\"native\":true";

// Closes one WinHTTP handle when it goes out of scope. Declared in the order session,
// connection, request, so they close in the reverse: request, connection, session.
class ScopedInternetHandle {
 public:
  explicit ScopedInternetHandle(HINTERNET handle) : handle_(handle) {}
  ~ScopedInternetHandle() {
    if (handle_) WinHttpCloseHandle(handle_);
  }
  ScopedInternetHandle(const ScopedInternetHandle&) = delete;
  ScopedInternetHandle& operator=(const ScopedInternetHandle&) = delete;

  HINTERNET Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

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

// One exchange, shared by the caller and the thread that runs it. The caller stops waiting
// at the deadline and returns; the exchange thread may go on a while and then ends by itself,
// touching nothing but this record.
struct Exchange {
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  std::string response;
  HINTERNET request = nullptr;  // under lock
};

// Whoever takes the request handle first closes it, outside the lock: closing may wait for
// a call in progress on the other thread.
void CloseExchangeRequest(Exchange& exchange) {
  std::unique_lock<std::mutex> lock(exchange.lock);
  HINTERNET request = std::exchange(exchange.request, nullptr);
  lock.unlock();
  if (request) WinHttpCloseHandle(request);
}

bool PastDeadline(std::chrono::steady_clock::time_point deadline) {
  return std::chrono::steady_clock::now() >= deadline;
}

// The body as far as the server sends it; false on a failed read, the deadline, or a body
// over the limit. Only what has arrived is read: a full-size read waits for the whole chunk
// under some WinHTTP implementations, so a trickling body would never reach the deadline test.
bool ReadBody(HINTERNET request, std::chrono::steady_clock::time_point deadline,
              std::string& response) {
  char chunk[MESSAGE_SERVICE_READ_CHUNK];
  for (;;) {
    if (PastDeadline(deadline)) return false;
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return false;
    if (available == 0) return true;
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

std::string RunExchange(const MessageServiceAddress& address, const std::wstring& path,
                        const std::string& body, std::chrono::steady_clock::time_point deadline,
                        Exchange& exchange) {
  ScopedInternetHandle session(WinHttpOpen(USER_AGENT, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                           WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return {};
  WinHttpSetTimeouts(session.Get(), MESSAGE_SERVICE_TIMEOUT_MS, MESSAGE_SERVICE_TIMEOUT_MS,
                     MESSAGE_SERVICE_TIMEOUT_MS, MESSAGE_SERVICE_TIMEOUT_MS);

  ScopedInternetHandle connection(
      WinHttpConnect(session.Get(), address.host.c_str(), address.port, 0));
  if (!connection) return {};

  HINTERNET request =
      WinHttpOpenRequest(connection.Get(), L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
  if (!request) return {};
  {
    std::lock_guard<std::mutex> guard(exchange.lock);
    exchange.request = request;
  }
  // Closed before the connection and the session, unless the caller closed it already.
  struct CloseRequest {
    Exchange& exchange;
    ~CloseRequest() { CloseExchangeRequest(exchange); }
  } closeRequest{exchange};

  DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                   sizeof(redirectPolicy));
  // The wait for the status line and headers has its own time-out, which some WinHTTP
  // implementations do not take from the receive time-out above; without it a server that
  // never answers would hold the exchange past 3 seconds of silence.
  DWORD responseTimeout = MESSAGE_SERVICE_TIMEOUT_MS;
  WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                   sizeof(responseTimeout));

  const DWORD bodyLength = static_cast<DWORD>(body.size());
  if (!WinHttpSendRequest(request, CONTENT_TYPE_HEADER, static_cast<DWORD>(-1L),
                          const_cast<char*>(body.data()), bodyLength, bodyLength, 0) ||
      !WinHttpReceiveResponse(request, nullptr)) {
    return {};
  }

  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                           WINHTTP_NO_HEADER_INDEX) ||
      status != HTTP_STATUS_OK) {
    return {};
  }

  std::string response;
  if (!ReadBody(request, deadline, response) || ShorterThanAnnounced(request, response.size())) {
    return {};
  }
  return response;
}

}  // namespace

std::string CallMessageService(const MessageServiceAddress& address, const std::wstring& endpoint,
                               const std::string& furtherMembers) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(MESSAGE_SERVICE_DEADLINE_MS);
  auto exchange = std::make_shared<Exchange>();
  // The exchange runs on a thread of its own because a blocked WinHTTP call cannot always be
  // ended from outside: closing the request handle does it on Windows, not under Wine.
  try {
    std::thread([address, path = MessageServicePath(endpoint),
                 body = MessageServiceBody(furtherMembers), deadline, exchange] {
      std::string response;
      try {
        response = RunExchange(address, path, body, deadline, *exchange);
      } catch (...) {
        response.clear();  // out of memory: the exchange failed
      }
      std::lock_guard<std::mutex> guard(exchange->lock);
      exchange->response = std::move(response);
      exchange->done = true;
      exchange->finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return {};
  }

  std::unique_lock<std::mutex> lock(exchange->lock);
  if (exchange->finished.wait_until(lock, deadline, [&] { return exchange->done; })) {
    return std::move(exchange->response);
  }
  lock.unlock();
  CloseExchangeRequest(*exchange);  // ends a blocked call on Windows, not under Wine
  return {};
}
