#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

// Where the message service is reached. The program always uses the maker's host on the
// HTTPS port; only code can change it (the tests point it at a local server).
struct MessageServiceAddress {
  std::wstring host;
  INTERNET_PORT port = INTERNET_DEFAULT_HTTPS_PORT;
};

MessageServiceAddress DefaultMessageServiceAddress();
MessageServiceAddress CurrentMessageServiceAddress();
void SetMessageServiceAddress(const MessageServiceAddress& address);

// Limits of one exchange.
constexpr DWORD MESSAGE_SERVICE_TIMEOUT_MS = 3000;    // silence at any one stage
constexpr DWORD MESSAGE_SERVICE_DEADLINE_MS = 10000;  // the whole exchange
constexpr DWORD MESSAGE_SERVICE_READ_CHUNK = 4096;
constexpr size_t MESSAGE_SERVICE_RESPONSE_LIMIT = 1500000;

// The request's path and body, built by plain concatenation.
std::wstring MessageServicePath(const std::wstring& endpoint);
std::string MessageServiceBody(const std::string& furtherMembers);

// One synchronous HTTPS POST to the service at the current address; the response body, or
// the empty string on any failure (no answer, TLS failure, status other than 200, body
// over the limit or shorter than announced, the whole exchange past its deadline).
std::string CallMessageService(const std::wstring& endpoint, const std::string& furtherMembers);
std::string CallMessageService(const MessageServiceAddress& address, const std::wstring& endpoint,
                               const std::string& furtherMembers);
