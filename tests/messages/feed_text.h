#pragma once

// Builders for message service answers, shared by this area's tests.

#include <string>

namespace feedtext {

// Plain RFC 4648 Base64 with padding, independent of the platform decoder under test.
inline std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i + 1 == bytes.size()) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

// "msg-" and 24 lowercase hex digits derived from n.
inline std::string MessageId(unsigned n) {
  static const char kHex[] = "0123456789abcdef";
  std::string id = "msg-";
  for (int i = 23; i >= 0; --i) id += kHex[(n >> ((i % 8) * 4)) & 15];
  return id;
}

// One feed line without its LF.
inline std::string Line(const std::string& id, const std::string& revision,
                        const std::string& utf8Title) {
  return id + "|" + revision + "|" + Base64(utf8Title) + "|";
}

// A whole service answer carrying the feed text.
inline std::string Response(const std::string& feed) {
  return "{\"ok\":true,\"native_feed\":\"" + Base64(feed) + "\"}";
}

}  // namespace feedtext
