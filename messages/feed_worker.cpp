#include "messages/feed_worker.h"

#include <cstdlib>
#include <system_error>

#include "core/app_state.h"
#include "messages/feed_request.h"

// Never destroyed: a worker that exit stopped waiting for may still be finishing while the
// process ends, and must not find this record torn down by static destruction.
FeedStateRecord& FeedState = *new FeedStateRecord;

namespace {

constexpr char OK_MARKER[] = "\"ok\":true";

}  // namespace

bool HasOkMarker(const std::string& response) {
  return response.find(OK_MARKER) != std::string::npos;
}

void StopFeedWorker() {
  AppState.feedStopRequested.exchange(true);
  if (!AppState.feedWorker.joinable()) return;
  // Exit waits about a second at most, whatever the exchange is doing: past that the worker
  // is let go, and the process ends without it (it posts nothing after the stop).
  for (int waited = 0; waited < FEED_STOP_WAIT_MS && FeedState.refreshRunning.load();
       waited += 10) {
    Sleep(10);
  }
  if (FeedState.refreshRunning.load()) {
    AppState.feedWorker.detach();
  } else {
    AppState.feedWorker.join();  // it has cleared the flag as its last step
  }
}

void StartFeedRefresh(HWND window) {
  if (AppState.feedStopRequested.load()) return;
  // The hidden window's WM_DESTROY stops the worker. Should the process end without it
  // (an early exit path), a still joinable thread object would abort the process while
  // static records are destroyed; this runs before that.
  static const bool joinAtExit = std::atexit(StopFeedWorker) == 0;
  (void)joinAtExit;
  if (FeedState.refreshRunning.exchange(true)) return;
  // The earlier worker has cleared refreshRunning as its last step, so this join is short.
  if (AppState.feedWorker.joinable()) AppState.feedWorker.join();
  try {
    AppState.feedWorker = std::thread(RunFeedRefresh, window);
  } catch (const std::system_error&) {
    // No worker will clear the flag; without this no refresh would ever start again.
    FeedState.refreshRunning.exchange(false);
  }
}

void RunFeedRefresh(HWND window) {
  try {
    const std::string response = CallMessageService(L"feed", std::string());
    if (AppState.feedStopRequested.load()) {
      // Exit may no longer be waiting: leave the feed as it is and post nothing.
      FeedState.refreshRunning.exchange(false);
      return;
    }
    std::lock_guard<std::mutex> lock(FeedState.fetchLock);
    const bool ok = HasOkMarker(response);
    FeedState.fetchOk = ok;
    if (ok) {
      FeedState.fetched = ParseNativeFeed(response);
    } else {
      FeedState.fetched.clear();
    }
  } catch (...) {
    // Out of memory while collecting or parsing: an exception must not end the process
    // from this thread; the refresh counts as failed.
    std::lock_guard<std::mutex> lock(FeedState.fetchLock);
    FeedState.fetchOk = false;
    FeedState.fetched.clear();
  }
  if (!AppState.feedStopRequested.load()) PostMessageW(window, WM_FEED_DONE, 0, 0);
  FeedState.refreshRunning.exchange(false);
}
