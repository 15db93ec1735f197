#include "keepalive.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>

#include "vornal.h"

namespace vornal {
namespace {

// How often the thread looks at the connection between no-ops: short
// enough that a notice or a closed daemon shows within a fraction of a
// second, long enough to cost nothing.
constexpr std::chrono::milliseconds kTick{50};

}  // namespace

KeepAlive::KeepAlive(std::shared_ptr<Connection> conn, int seconds)
    : conn_(std::move(conn)),
      interval_(seconds),
      lost_after_(std::max(3 * seconds, 3)),
      next_send_(Clock::now()) {
  // The thread takes no signals: a program's handlers then always
  // interrupt its own thread, whose waits hand them to the wait hook.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  thread_ = std::thread([this] { run(); });
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

KeepAlive::~KeepAlive() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void KeepAlive::run() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stop_) {
    lock.unlock();
    tick(Clock::now());
    lock.lock();
    wake_.wait_for(lock, kTick, [this] { return stop_; });
  }
}

// One look at the connection: read what came, judge the outstanding
// no-op, send the next one when it is due.
void KeepAlive::tick(Clock::time_point now) {
  Connection &c = *conn_;
  int s = c.state();
  if (s != VORNAL_STATE_CONNECTED && s != VORNAL_STATE_HUNG) return;
  c.poll_incoming();
  std::optional<Clock::time_point> sent = c.noop_sent_at();
  if (sent) {
    Clock::duration age = now - *sent;
    if (age >= lost_after_)
      c.lose("no keep-alive reply for " + std::to_string(lost_after_.count()) +
             " s");
    else if (age > interval_)
      c.mark_hung();
    return;
  }
  if (now >= next_send_ && c.send_noop()) next_send_ = now + interval_;
}

}  // namespace vornal
