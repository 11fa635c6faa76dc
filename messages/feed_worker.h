#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
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

extern FeedStateRecord& FeedState;

void StartFeedRefresh(HWND window);
void RunFeedRefresh(HWND window);

// Asks a running worker to post nothing and waits for it, about a second at most: what
// exit does.
constexpr int FEED_STOP_WAIT_MS = 1000;
void StopFeedWorker();

// True when the response carries the 9 bytes "ok":true anywhere, exactly as written.
bool HasOkMarker(const std::string& response);
