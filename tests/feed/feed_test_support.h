#pragma once

#include <windows.h>

#include <string>

#include "messages/feed_request.h"

// The local message service that feed_server.py runs for these tests: one HTTPS port per
// scenario on 127.0.0.1, certificates for "localhost" from a test authority that this
// executable trusts, in its own Wine prefix only, for the length of the run.

// The address of one scenario ("good", "echo", ...); port 0 when the server does not run
// (the set-up has then failed every test already).
MessageServiceAddress ScenarioAddress(const std::string& scenario);

// How many requests the scenario has received, from the server's log.
int RequestCount(const std::string& scenario);

// A file the server wrote next to its certificates, or empty.
std::string ServerFile(const std::string& name);

long long NowMs();
