// The keep-alive thread: a no-op every interval, the hung and lost checks,
// and the reading of notices while the caller's thread is idle.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "connection.h"

namespace vornal {

class KeepAlive {
 public:
  // Starts the thread on conn, which must outlive this object.
  KeepAlive(std::shared_ptr<Connection> conn, int seconds);
  // Stops and joins the thread.
  ~KeepAlive();
  KeepAlive(const KeepAlive &) = delete;
  KeepAlive &operator=(const KeepAlive &) = delete;

  int seconds() const { return static_cast<int>(interval_.count()); }

 private:
  void run();
  void tick(Clock::time_point now);

  std::shared_ptr<Connection> conn_;
  std::chrono::seconds interval_;
  std::chrono::seconds lost_after_;  // 3 x interval, at least 3 s
  Clock::time_point next_send_;
  std::mutex mu_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace vornal
