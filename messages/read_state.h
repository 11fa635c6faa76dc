#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "messages/feed_parser.h"

struct ReadStateStoreRecord {
  std::string tokens;
};

extern ReadStateStoreRecord ReadStateStore;

void LoadReadState(HWND window);
std::string ReadStateToken(const MessageRecord& record);
bool IsMessageRead(const MessageRecord& record);
void MarkMessageRead(const MessageRecord& record);
uint32_t CountUnreadMessages();
