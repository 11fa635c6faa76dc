#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

#include "messages/feed_request.h"

// The local message service that feed_server.py runs for these tests: one HTTPS port per
// scenario on 127.0.0.1, certificates for "localhost" from a test authority that the
// environment below trusts in this process's Wine prefix only.

// The address of one scenario ("good", "echo", "slow", ...), or port 0 when the server
// does not run (the environment's set-up has then failed every test already).
MessageServiceAddress ScenarioAddress(const std::string& scenario);

// The server's request log: how many requests a scenario has received, and all its lines.
int RequestCount(const std::string& scenario);

// A file the server wrote next to its certificates (the good feed, the 1,500,000 bytes).
std::string ServerFile(const std::wstring& name);

// Whole contents of a file, or empty.
std::string ReadWholeFile(const std::wstring& path);

// Milliseconds since an arbitrary start.
long long NowMs();

// A message-only window standing in for the hidden window: counts WM_FEED_DONE and hands
// each one to OnFeedDone, as the hidden window does.
HWND FeedTestWindow();
int FeedDoneCount();
void ResetFeedDoneCount();

// Dispatches this thread's messages until done() holds or the time is up; the final value
// of done().
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);
void PumpFor(int milliseconds);
