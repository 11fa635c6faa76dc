#include "messages/feed_request.h"

#include <mutex>

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

std::string CallMessageService(const MessageServiceAddress& address, const std::wstring& endpoint,
                               const std::string& furtherMembers) {
  ScopedInternetHandle session(WinHttpOpen(USER_AGENT, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                           WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return {};
  WinHttpSetTimeouts(session.Get(), MESSAGE_SERVICE_TIMEOUT_MS, MESSAGE_SERVICE_TIMEOUT_MS,
                     MESSAGE_SERVICE_TIMEOUT_MS, MESSAGE_SERVICE_TIMEOUT_MS);

  ScopedInternetHandle connection(
      WinHttpConnect(session.Get(), address.host.c_str(), address.port, 0));
  if (!connection) return {};

  const std::wstring path = MessageServicePath(endpoint);
  ScopedInternetHandle request(WinHttpOpenRequest(connection.Get(), L"POST", path.c_str(), nullptr,
                                                  WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                  WINHTTP_FLAG_SECURE));
  if (!request) return {};

  DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                   sizeof(redirectPolicy));
  // The wait for the status line and headers has its own time-out, which some WinHTTP
  // implementations do not take from the receive time-out above; without it a server that
  // never answers would hold the worker, and the exit that joins it, far past 3 seconds.
  DWORD responseTimeout = MESSAGE_SERVICE_TIMEOUT_MS;
  WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                   sizeof(responseTimeout));

  std::string body = MessageServiceBody(furtherMembers);
  const DWORD bodyLength = static_cast<DWORD>(body.size());
  if (!WinHttpSendRequest(request.Get(), CONTENT_TYPE_HEADER, static_cast<DWORD>(-1L), body.data(),
                          bodyLength, bodyLength, 0)) {
    return {};
  }
  if (!WinHttpReceiveResponse(request.Get(), nullptr)) return {};

  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                           WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  if (status != HTTP_STATUS_OK) return {};

  std::string response;
  char chunk[MESSAGE_SERVICE_READ_CHUNK];
  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(request.Get(), chunk, sizeof(chunk), &read)) return {};
    if (read == 0) break;
    response.append(chunk, read);
    if (response.size() > MESSAGE_SERVICE_RESPONSE_LIMIT) return {};
  }
  return response;
}
