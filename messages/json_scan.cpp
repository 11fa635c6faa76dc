#include "messages/json_scan.h"

namespace {

constexpr char kWhitespace[] = " \r\n\t";
constexpr char kTerminators[] = ",}\r\n";

}  // namespace

// A textual scan, not a JSON parser: the first quoted occurrence of the key wins, and a
// string value holding any escape is refused rather than unescaped.
std::string FindJsonValue(const std::string& text, const std::string& key) {
  const std::string needle = "\"" + key + "\"";
  const size_t match = text.find(needle);
  if (match == std::string::npos) return {};
  const size_t afterKey = match + needle.size();
  if (afterKey >= text.size()) return {};
  const size_t colon = text.find(':', afterKey);
  if (colon == std::string::npos) return {};
  size_t r = colon + 1;
  if (r >= text.size()) return {};
  r = text.find_first_not_of(kWhitespace, r);
  if (r == std::string::npos) return {};

  if (text[r] == '"') {
    if (r + 1 >= text.size()) return {};
    const size_t close = text.find('"', r + 1);
    if (close == std::string::npos) return {};
    std::string value = text.substr(r + 1, close - r - 1);
    if (value.find('\\') != std::string::npos) return {};
    return value;
  }

  const size_t end = text.find_first_of(kTerminators, r);
  return end == std::string::npos ? text.substr(r) : text.substr(r, end - r);
}
