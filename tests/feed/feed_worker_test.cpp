#include <gtest/gtest.h>

#include <system_error>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "messages/feed_request.h"
#include "messages/feed_worker.h"
#include "messages/message_window.h"
#include "tests/feed/feed_test_support.h"

namespace {

MessageRecord Record(const char* id, uint32_t revision, const wchar_t* title) {
  MessageRecord record;
  record.id = id;
  record.revision = revision;
  record.title = title;
  return record;
}

bool SameRecords(const std::vector<MessageRecord>& a, const std::vector<MessageRecord>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].id != b[i].id || a[i].revision != b[i].revision || a[i].title != b[i].title) {
      return false;
    }
  }
  return true;
}

// The records of the server's good feed.
std::vector<MessageRecord> GoodFeedRecords() {
  return {Record("msg-1a2b3c4d5e6f708192a3b4c5", 1, L"欢迎使用 Dropleaf 消息中心"),
          Record("msg-00000000000000000000beef", 12, L"新版本 0.2.0 已发布"),
          Record("msg-fedcba9876543210fedcba98", 20240601, L"粘贴截图：按 Ctrl+V 即可保存")};
}

std::vector<MessageRecord> OldRecords() {
  return {Record("msg-aaaaaaaaaaaaaaaaaaaaaaaa", 7, L"旧消息")};
}

// Each case points the worker at one scenario, starts from a known list and leaves no
// worker behind.
class FeedWorker : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(FeedTestWindow(), nullptr);
    FeedState.messages = OldRecords();
    ResetFeedDoneCount();
  }
  void TearDown() override {
    if (AppState.feedWorker.joinable()) AppState.feedWorker.join();
    PumpFor(50);  // drop a late notice so the next case counts from zero
    SetMessageServiceAddress(DefaultMessageServiceAddress());
    SetFeedThreadStarter(nullptr);
    AppState.feedStopRequested.exchange(false);
  }

  // One refresh against the scenario, run to its completion notice.
  void RefreshFrom(const std::string& scenario) {
    SetMessageServiceAddress(ScenarioAddress(scenario));
    StartFeedRefresh(FeedTestWindow());
    ASSERT_TRUE(PumpUntil([] { return FeedDoneCount() >= 1 && !FeedState.refreshRunning; }, 8000))
        << scenario;
  }
};

TEST(FeedOkMarker, OnlyTheExactBytesCount) {
  EXPECT_TRUE(HasOkMarker("{\"ok\":true}"));
  EXPECT_TRUE(HasOkMarker("{\"a\":1,\"ok\":true,\"native_feed\":\"\"}"));
  EXPECT_TRUE(HasOkMarker("xx\"ok\":truex"));  // a plain substring, nothing more
  EXPECT_FALSE(HasOkMarker(""));
  EXPECT_FALSE(HasOkMarker("{\"ok\": true}"));
  EXPECT_FALSE(HasOkMarker("{\"ok\" :true}"));
  EXPECT_FALSE(HasOkMarker("{\"ok\":false}"));
  EXPECT_FALSE(HasOkMarker("{\"OK\":true}"));
  EXPECT_FALSE(HasOkMarker("{\"ok\":tru"));
}

TEST_F(FeedWorker, SuccessReplacesTheMessages) {
  RefreshFrom("good");
  EXPECT_EQ(FeedDoneCount(), 1);
  EXPECT_TRUE(SameRecords(FeedState.messages, GoodFeedRecords()))
      << FeedState.messages.size() << " records";
  std::lock_guard<std::mutex> lock(FeedState.fetchLock);
  EXPECT_TRUE(FeedState.fetchOk);
  EXPECT_TRUE(SameRecords(FeedState.fetched, GoodFeedRecords())) << "fetched keeps its copy";
}

TEST_F(FeedWorker, OkWithoutUsableFeedEmptiesTheMessages) {
  for (const char* scenario : {"nofeed", "escaped"}) {
    FeedState.messages = OldRecords();
    ResetFeedDoneCount();
    RefreshFrom(scenario);
    EXPECT_TRUE(FeedState.messages.empty()) << scenario;
    std::lock_guard<std::mutex> lock(FeedState.fetchLock);
    EXPECT_TRUE(FeedState.fetchOk) << scenario;
  }
}

TEST_F(FeedWorker, FailureLeavesTheMessages) {
  // "ok": true with a space, "ok":false, an error status, an empty body, a bad certificate.
  for (const char* scenario : {"okspace", "okfalse", "status500", "empty", "untrusted"}) {
    ResetFeedDoneCount();
    RefreshFrom(scenario);
    EXPECT_EQ(FeedDoneCount(), 1) << scenario;
    EXPECT_TRUE(SameRecords(FeedState.messages, OldRecords())) << scenario;
    std::lock_guard<std::mutex> lock(FeedState.fetchLock);
    EXPECT_FALSE(FeedState.fetchOk) << scenario;
    EXPECT_TRUE(FeedState.fetched.empty()) << scenario;
  }
}

TEST_F(FeedWorker, RequestsWhileOneRunsStartNothing) {
  const int before = RequestCount("delayed");
  SetMessageServiceAddress(ScenarioAddress("delayed"));  // answers after one second
  StartFeedRefresh(FeedTestWindow());
  ASSERT_TRUE(FeedState.refreshRunning);
  const std::thread::id worker = AppState.feedWorker.get_id();
  PumpFor(200);
  StartFeedRefresh(FeedTestWindow());  // the timer, the window opening, the refresh button
  StartFeedRefresh(FeedTestWindow());
  StartFeedRefresh(FeedTestWindow());
  EXPECT_EQ(AppState.feedWorker.get_id(), worker);
  ASSERT_TRUE(PumpUntil([] { return FeedDoneCount() >= 1 && !FeedState.refreshRunning; }, 8000));
  PumpFor(300);
  EXPECT_EQ(FeedDoneCount(), 1);
  EXPECT_EQ(RequestCount("delayed"), before + 1);
  EXPECT_TRUE(SameRecords(FeedState.messages, GoodFeedRecords()));
}

TEST_F(FeedWorker, SecondRefreshJoinsTheFirstWorker) {
  RefreshFrom("good");
  ASSERT_TRUE(AppState.feedWorker.joinable()) << "the finished worker waits to be joined";
  const std::thread::id first = AppState.feedWorker.get_id();
  FeedState.messages = OldRecords();
  // Replacing a joinable thread without joining it would end the process.
  RefreshFrom("good");
  EXPECT_EQ(FeedDoneCount(), 2);
  EXPECT_NE(AppState.feedWorker.get_id(), first);
  EXPECT_TRUE(SameRecords(FeedState.messages, GoodFeedRecords()));
}

TEST_F(FeedWorker, ExitDuringASlowRequestWaitsAndPostsNothing) {
  const int before = RequestCount("slow");
  SetMessageServiceAddress(ScenarioAddress("slow"));
  StartFeedRefresh(FeedTestWindow());
  ASSERT_TRUE(PumpUntil([&] { return RequestCount("slow") > before; }, 3000))
      << "the request reached the server";

  // What the hidden window's WM_DESTROY does.
  AppState.feedStopRequested.exchange(true);
  const long long start = NowMs();
  AppState.feedWorker.join();
  EXPECT_GE(NowMs() - start, 1500) << "the join waited for the running exchange";
  EXPECT_FALSE(FeedState.refreshRunning);

  StartFeedRefresh(FeedTestWindow());  // after exit has begun: dropped
  EXPECT_FALSE(FeedState.refreshRunning);
  EXPECT_FALSE(AppState.feedWorker.joinable());
  PumpFor(300);
  EXPECT_EQ(FeedDoneCount(), 0);
  EXPECT_TRUE(SameRecords(FeedState.messages, OldRecords()));
}

int failedStarts = 0;
std::thread FailingThreadStarter(HWND) {
  ++failedStarts;
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

TEST_F(FeedWorker, ThreadThatCannotBeCreatedDoesNotBlockLaterRefreshes) {
  SetMessageServiceAddress(ScenarioAddress("good"));
  SetFeedThreadStarter(FailingThreadStarter);
  failedStarts = 0;
  StartFeedRefresh(FeedTestWindow());
  EXPECT_EQ(failedStarts, 1);
  EXPECT_FALSE(FeedState.refreshRunning);
  EXPECT_FALSE(AppState.feedWorker.joinable());

  SetFeedThreadStarter(nullptr);  // the platform's thread again
  RefreshFrom("good");
  EXPECT_EQ(FeedDoneCount(), 1);
  EXPECT_TRUE(SameRecords(FeedState.messages, GoodFeedRecords()));
}

// Run only as a child process by the case below: starts a refresh that cannot end soon
// and lets the process end without the hidden window's join.
TEST(FeedWorkerChild, DISABLED_ProcessEndsWhileTheWorkerRuns) {
  SetMessageServiceAddress(ScenarioAddress("silent"));
  StartFeedRefresh(FeedTestWindow());
  ASSERT_TRUE(FeedState.refreshRunning);
}

TEST(FeedWorkerExit, ProcessEndingWithoutTheJoinWaitsForTheWorkerAndExitsCleanly) {
  wchar_t path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  std::wstring command = L"\"" + std::wstring(path) +
                         L"\" --gtest_also_run_disabled_tests"
                         L" --gtest_filter=FeedWorkerChild.DISABLED_ProcessEndsWhileTheWorkerRuns";
  const int before = RequestCount("silent");
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
  EXPECT_EQ(RequestCount("silent"), before + 1) << "the child's worker was in an exchange";
}

// OnFeedDone with the message window open. The window and its status line are stand-ins
// made here, so the failure path is seen without the message window's own refresh.
class FeedDoneWithWindowOpen : public testing::Test {
 protected:
  void SetUp() override {
    window_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                              nullptr, nullptr);
    status_ = CreateWindowExW(0, L"STATIC", L"正在加载…", WS_CHILD, 0, 0, 100, 20, window_, nullptr,
                              nullptr, nullptr);
    ASSERT_NE(status_, nullptr);
    AppState.messageWindow = window_;
    messageStatusLine = status_;
    FeedState.messages = OldRecords();
  }
  void TearDown() override {
    AppState.messageWindow = nullptr;
    messageStatusLine = nullptr;
    DestroyWindow(window_);
  }
  std::wstring StatusText() {
    wchar_t text[256] = {};
    GetWindowTextW(status_, text, 256);
    return text;
  }
  HWND window_ = nullptr;
  HWND status_ = nullptr;
};

TEST_F(FeedDoneWithWindowOpen, FailureShowsTheRetryTextAndKeepsTheList) {
  {
    std::lock_guard<std::mutex> lock(FeedState.fetchLock);
    FeedState.fetchOk = false;
    FeedState.fetched.clear();
  }
  OnFeedDone();
  EXPECT_EQ(StatusText(), L"消息暂时无法加载，请点击刷新重试。");
  EXPECT_TRUE(SameRecords(FeedState.messages, OldRecords()));
}

TEST_F(FeedDoneWithWindowOpen, FailureWithTheWindowClosedChangesNothing) {
  AppState.messageWindow = nullptr;
  {
    std::lock_guard<std::mutex> lock(FeedState.fetchLock);
    FeedState.fetchOk = false;
  }
  OnFeedDone();
  EXPECT_EQ(StatusText(), L"正在加载…");
  EXPECT_TRUE(SameRecords(FeedState.messages, OldRecords()));
}

}  // namespace
