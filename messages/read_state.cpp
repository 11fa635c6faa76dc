#include "messages/read_state.h"

ReadStateStoreRecord ReadStateStore;
void LoadReadState(HWND) {}
std::string ReadStateToken(const MessageRecord&) { return {}; }
bool IsMessageRead(const MessageRecord&) { return false; }
void MarkMessageRead(const MessageRecord&) {}
uint32_t CountUnreadMessages() { return 0; }
