// The brake on password guessing: after each failed login a peer address
// waits longer before its next attempt is even checked, and its repeated
// failures are folded into one log line.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vornd {

using Clock = std::chrono::steady_clock;

// Returns the wait imposed after the n-th failure in a row (n >= 1):
// 250 ms doubling up to 8 s; zero for n <= 0.
Clock::duration login_delay(int failures);

class LoginBrake {
 public:
  // Returns the earliest time the next attempt of peer may be checked.
  Clock::time_point next_attempt(const std::string &peer) const;
  // Records a refused login; logs the first of a series, counts the rest.
  void failed(const std::string &peer, std::string_view user,
              Clock::time_point now);
  // Ends peer's series of failures (a login succeeded).
  void succeeded(const std::string &peer);
  // Logs the folded failures that are due and forgets old peers. Returns
  // when it next has something to do.
  std::optional<Clock::time_point> tick(Clock::time_point now);

 private:
  struct Record {
    int failures = 0;
    int unlogged = 0;  // failures since the last line about this peer
    Clock::time_point last, summary_due;
    std::string last_user;  // already quoted for the log
  };
  void summarise(const std::string &peer, Record &r);
  void make_room();
  std::map<std::string, Record> peers_;
};

}  // namespace vornd
