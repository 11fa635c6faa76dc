#include "messages/feed_worker.h"

FeedStateRecord FeedState;
void StartFeedRefresh(HWND) {}
void RunFeedRefresh(HWND) {}
void OnFeedDone() {}
