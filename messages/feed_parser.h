#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MessageRecord {
  std::string id;
  uint32_t revision = 0;
  std::wstring title;
};

std::vector<MessageRecord> ParseNativeFeed(const std::string& response);
std::string DecodeBase64(const std::string& text);
std::wstring Utf8ToWide(const std::string& bytes);
bool IsValidMessageId(const std::string& id);
