// Pieces every benchmark shares: the clock, the raw ping-pong floor and the
// login against a running vornd.
#pragma once

#include <sys/types.h>

#include <chrono>

namespace bench {

using Clock = std::chrono::steady_clock;

// Returns the microseconds elapsed since start.
double us_since(Clock::time_point start);

// The echo process of the floor and the parent's end of its socket.
struct Floor {
  int fd = -1;
  pid_t child = -1;
};

// Forks the echo side of the floor (64 bytes in, 200 out, until EOF); call
// before the library starts any thread. Exits on failure.
Floor start_floor();

// Returns the mean microseconds of one raw 64/200-byte round trip over
// rounds round trips. Exits on failure.
double time_floor(const Floor &f, int rounds);

// Closes the floor's socket and waits for its echo process.
void stop_floor(Floor &f);

// Returns the value after "name" among argv's "--flag value" pairs, or
// fallback when it is not given.
const char *option(int argc, char **argv, const char *name,
                   const char *fallback = nullptr);

// Reads fd (a terminal) until text appears; returns false at its end or
// after limit_s seconds.
bool wait_for(int fd, const char *text, int limit_s);

// Connects to socket and logs in as the effective user; exits on failure.
void login(const char *socket);

}  // namespace bench
