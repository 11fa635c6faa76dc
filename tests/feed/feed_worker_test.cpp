#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

#include "app/app_state.h"
#include "messages/feed_request.h"
#include "messages/feed_worker.h"
#include "messages/message_window.h"
#include "tests/feed/feed_test_support.h"

namespace {

using Records = std::vector<MessageRecord>;

// The records of the server's good feed, and a list that a refresh replaces or keeps.
const Records GOOD = {{"msg-1a2b3c4d5e6f708192a3b4c5", 1, L"欢迎使用 Dropleaf 消息中心"},
                      {"msg-00000000000000000000beef", 12, L"新版本 0.2.0 已发布"},
                      {"msg-fedcba9876543210fedcba98", 20240601, L"粘贴截图：按 Ctrl+V 即可保存"}};
const Records OLD = {{"msg-aaaaaaaaaaaaaaaaaaaaaaaa", 7, L"旧消息"}};
const Records NONE;

bool Same(const Records& a, const Records& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return x.id == y.id && x.revision == y.revision && x.title == y.title;
  });
}

int feedDoneCount = 0;

// Stands in for the hidden window: counts WM_FEED_DONE and hands each one to OnFeedDone.
LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_FEED_DONE) return DefWindowProcW(window, message, wParam, lParam);
  ++feedDoneCount;
  OnFeedDone();
  return 0;
}

HWND TestWindow() {
  static const HWND window = [] {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TestWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"Dropleaf.FeedTestWindow";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
  }();
  return window;
}

// Dispatches this thread's messages until done() holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  for (const long long deadline = NowMs() + timeoutMs; !done() && NowMs() < deadline;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  return done();
}

void PumpFor(int milliseconds) {
  PumpUntil([] { return false; }, milliseconds);
}

bool RefreshDone() { return feedDoneCount >= 1 && !FeedState.refreshRunning; }

// Each case starts from the old list and leaves no worker behind.
class FeedWorker : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(TestWindow(), nullptr);
    FeedState.messages = OLD;
    feedDoneCount = 0;
  }
  void TearDown() override {
    if (AppState.feedWorker.joinable()) AppState.feedWorker.join();
    PumpFor(50);  // drop a late notice so the next case counts from zero
    SetMessageServiceAddress(DefaultMessageServiceAddress());
    SetFeedThreadStarter(nullptr);
    AppState.feedStopRequested.exchange(false);
  }

  // One refresh against the scenario, run to its completion notice.
  static bool Refresh(const char* scenario) {
    SetMessageServiceAddress(ScenarioAddress(scenario));
    StartFeedRefresh(TestWindow());
    return PumpUntil(RefreshDone, 8000);
  }
};

TEST(FeedOkMarker, OnlyTheExactBytesCount) {
  for (const char* text : {"{\"ok\":true}", "{\"a\":1,\"ok\":true,\"native_feed\":\"\"}",
                           "xx\"ok\":truex"}) {  // a plain substring, nothing more
    EXPECT_TRUE(HasOkMarker(text)) << text;
  }
  for (const char* text :
       {"", "{\"ok\": true}", "{\"ok\" :true}", "{\"ok\":false}", "{\"OK\":true}", "{\"ok\":tru"}) {
    EXPECT_FALSE(HasOkMarker(text)) << text;
  }
}

TEST_F(FeedWorker, SuccessReplacesTheMessagesFailureLeavesThemAndEachJoinsThePrevious) {
  // {scenario, success, messages after}. "ok": true with a space fails: only the exact bytes count.
  const std::tuple<const char*, bool, const Records*> cases[] = {{"good", true, &GOOD},
                                                                 {"nofeed", true, &NONE},
                                                                 {"okspace", false, &OLD},
                                                                 {"okfalse", false, &OLD},
                                                                 {"status500", false, &OLD}};
  std::thread::id previous;
  for (const auto& [scenario, ok, messages] : cases) {
    FeedState.messages = OLD;
    feedDoneCount = 0;
    ASSERT_TRUE(Refresh(scenario)) << scenario;
    // The finished worker waits to be joined; replacing it unjoined would end the process.
    EXPECT_NE(AppState.feedWorker.get_id(), previous) << scenario;
    previous = AppState.feedWorker.get_id();
    EXPECT_EQ(feedDoneCount, 1) << scenario;
    EXPECT_TRUE(Same(FeedState.messages, *messages)) << scenario;
    std::lock_guard<std::mutex> lock(FeedState.fetchLock);
    EXPECT_EQ(FeedState.fetchOk, ok) << scenario;
    EXPECT_TRUE(Same(FeedState.fetched, ok ? *messages : NONE)) << scenario;
  }
}

TEST_F(FeedWorker, RequestsWhileOneRunsStartNothing) {
  const int before = RequestCount("delayed");
  SetMessageServiceAddress(ScenarioAddress("delayed"));  // answers after one second
  StartFeedRefresh(TestWindow());
  ASSERT_TRUE(FeedState.refreshRunning);
  const std::thread::id worker = AppState.feedWorker.get_id();
  PumpFor(200);
  for (int i = 0; i < 3; ++i) StartFeedRefresh(TestWindow());  // timer, window, button
  EXPECT_EQ(AppState.feedWorker.get_id(), worker);
  ASSERT_TRUE(PumpUntil(RefreshDone, 8000));
  PumpFor(300);
  EXPECT_EQ(feedDoneCount, 1);
  EXPECT_EQ(RequestCount("delayed"), before + 1);
  EXPECT_TRUE(Same(FeedState.messages, GOOD));
}

TEST_F(FeedWorker, ExitDuringASlowRequestWaitsForItAndPostsNothing) {
  const int before = RequestCount("slow");
  SetMessageServiceAddress(ScenarioAddress("slow"));
  StartFeedRefresh(TestWindow());
  ASSERT_TRUE(PumpUntil([&] { return RequestCount("slow") > before; }, 3000));
  const long long start = NowMs();
  StopFeedWorker();  // what the hidden window's WM_DESTROY does
  EXPECT_GE(NowMs() - start, 1500) << "the stop waited for the running exchange";
  EXPECT_FALSE(FeedState.refreshRunning);
  StartFeedRefresh(TestWindow());  // after exit has begun: dropped
  EXPECT_FALSE(FeedState.refreshRunning);
  EXPECT_FALSE(AppState.feedWorker.joinable());
  PumpFor(300);
  EXPECT_EQ(feedDoneCount, 0);
  EXPECT_TRUE(Same(FeedState.messages, OLD));
}

TEST_F(FeedWorker, ThreadThatCannotBeCreatedDoesNotBlockLaterRefreshes) {
  static int starts = 0;
  SetFeedThreadStarter([](HWND) -> std::thread {
    ++starts;
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  SetMessageServiceAddress(ScenarioAddress("good"));
  StartFeedRefresh(TestWindow());
  EXPECT_EQ(starts, 1);
  EXPECT_FALSE(FeedState.refreshRunning);
  EXPECT_FALSE(AppState.feedWorker.joinable());
  SetFeedThreadStarter(nullptr);  // the platform's thread again
  ASSERT_TRUE(Refresh("good"));
  EXPECT_TRUE(Same(FeedState.messages, GOOD));
}

// Run only as a child process by the case below: leaves a refresh running and lets the
// process end without the hidden window's stop.
TEST(FeedWorkerChild, DISABLED_ProcessEndsWhileTheWorkerRuns) {
  SetMessageServiceAddress(ScenarioAddress("delayed"));
  StartFeedRefresh(TestWindow());
  ASSERT_TRUE(FeedState.refreshRunning);
}

TEST(FeedWorkerExit, ProcessEndingWithoutTheStopWaitsForTheWorkerAndExitsCleanly) {
  wchar_t path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  std::wstring command = L"\"" + std::wstring(path) +
                         L"\" --gtest_also_run_disabled_tests"
                         L" --gtest_filter=FeedWorkerChild.DISABLED_ProcessEndsWhileTheWorkerRuns";
  const int before = RequestCount("delayed");
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  CloseHandle(process.hThread);
  const DWORD waited = WaitForSingleObject(process.hProcess, 30000);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hProcess);
  ASSERT_EQ(waited, WAIT_OBJECT_0);
  EXPECT_EQ(exitCode, 0u) << "a joinable worker thread at exit aborts the process";
  EXPECT_EQ(RequestCount("delayed"), before + 1) << "the child's worker was in an exchange";
}

TEST(FeedDone, FailureSetsTheRetryTextOnlyWhileTheWindowIsOpen) {
  // Stand-ins for the message window and its status line.
  std::unique_ptr<std::remove_pointer_t<HWND>, decltype(&DestroyWindow)> window(
      CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                      nullptr),
      DestroyWindow);
  messageStatusLine = CreateWindowExW(0, L"STATIC", MESSAGE_STATUS_LOADING, WS_CHILD, 0, 0, 100, 20,
                                      window.get(), nullptr, nullptr, nullptr);
  ASSERT_NE(messageStatusLine, nullptr);
  FeedState.messages = OLD;
  FeedState.fetchOk = false;  // a failed refresh; no worker runs now to race with
  auto statusText = [] {
    wchar_t text[256] = {};
    GetWindowTextW(messageStatusLine, text, 256);
    return std::wstring(text);
  };
  AppState.messageWindow = nullptr;
  OnFeedDone();
  EXPECT_EQ(statusText(), MESSAGE_STATUS_LOADING) << "the window is closed";
  AppState.messageWindow = window.get();
  OnFeedDone();
  EXPECT_EQ(statusText(), MESSAGE_STATUS_FAILED);
  EXPECT_TRUE(Same(FeedState.messages, OLD));
  AppState.messageWindow = nullptr;
  messageStatusLine = nullptr;
}

}  // namespace
