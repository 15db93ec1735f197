// Helpers shared by the library tests: a fixture that leaves the library
// disconnected, a request wrapper that copies the results out, and timing.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "vornal.h"
#include "vornal_server.h"

namespace vtest {

using Text = std::optional<std::string>;

struct Result {
  bool got = false;  // a handle came back
  Text reply, status;
};

// Sends one request and returns copies of what came back.
Result call(int type, const char *a1, const char *a2, const char *a3,
            const char *a4, const char *a5);

// Polls the state until it equals want. Returns the milliseconds waited, or
// -1 when max_ms passed first.
long wait_state(int want, long max_ms);

// Returns the milliseconds since start.
long ms_since(std::chrono::steady_clock::time_point start);

class Client : public ::testing::Test {
 protected:
  void TearDown() override;
};

}  // namespace vtest
