#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "messages/feed_parser.h"

struct ReadStateStoreRecord {
  std::string tokens;
};

extern ReadStateStoreRecord ReadStateStore;

// Where the read state is kept across runs (under HKEY_CURRENT_USER).
inline constexpr char READ_STATE_KEY_PATH[] = "Software\\Velmorra\\Messages\\Dropleaf";
inline constexpr wchar_t READ_STATE_KEY_PATH_W[] = L"Software\\Velmorra\\Messages\\Dropleaf";
inline constexpr char READ_STATE_VALUE_NAME[] = "Read";

constexpr size_t READ_STATE_MAX_BYTES = 20000;    // kept after every append
constexpr size_t READ_STATE_KEEP_WINDOW = 16000;  // where the cut looks for a token end
constexpr DWORD READ_STATE_LOAD_BUFFER = 24000;   // largest stored value loaded

// Loads the stored tokens (a plain string of at most READ_STATE_LOAD_BUFFER bytes).
void LoadReadState();
std::string ReadStateToken(const MessageRecord& record);
bool IsMessageRead(const MessageRecord& record);
void MarkMessageRead(const MessageRecord& record);
uint32_t CountUnreadMessages();

// The store's rule without the registry: appends token to tokens unless it is there
// already, then cuts the oldest tokens when the string grew past the limit. Returns
// whether tokens changed (and so must be written).
bool AppendReadStateToken(std::string& tokens, const std::string& token);
