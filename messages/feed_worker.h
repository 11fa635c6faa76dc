#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "messages/feed_parser.h"

struct FeedStateRecord {
  std::vector<MessageRecord> messages;  // user-interface thread only
  std::vector<MessageRecord> fetched;   // under fetchLock
  bool fetchOk = false;                 // under fetchLock
  std::mutex fetchLock;
  std::atomic<bool> refreshRunning{false};
  HWND notifyWindow = nullptr;
};

extern FeedStateRecord FeedState;

void StartFeedRefresh(HWND window);
void RunFeedRefresh(HWND window);
void OnFeedDone();
