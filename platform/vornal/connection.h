// One connection to the daemon, shared by the caller's thread and the
// keep-alive thread. Exchanges are serialised by one mutex; the keep-alive
// writes its no-ops under a separate write lock, so a no-op and its overdue
// check never wait for a caller's exchange. The state is an atomic so that
// it answers at once from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "kept.h"
#include "transport.h"
#include "wire/frame.h"

namespace vornal {

class Connection {
 public:
  // Connects to server and exchanges greetings within timeout_ms. Returns
  // VORNAL_STATE_CONNECTED and fills out, or a vornal_connect error code.
  static int open(std::string_view server, int timeout_ms,
                  std::unique_ptr<Connection> &out);

  Connection(Fd fd, int timeout_ms)
      : fd_(std::move(fd)), timeout_ms_(timeout_ms) {}
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;

  // Returns the state: 5 connected, 7 hung, 3 ended, 4 lost.
  int state() const { return state_.load(std::memory_order_acquire); }

  // Sends a request and waits (bounded) for the reply with its id. Returns
  // nullopt when none came; the state is then 3 or 4. A listing is asked
  // for with the descriptions of its nodes, and the description requests
  // that follow it in order are answered from those.
  std::optional<wire::Reply> exchange(uint16_t type,
                                      std::array<wire::Text, 5> args);

  // Sends a no-op unless one is outstanding or another thread is writing.
  // Returns true when one was sent.
  bool send_noop();

  // Returns when the outstanding no-op was sent, or nullopt when none is.
  std::optional<Clock::time_point> noop_sent_at() const;

  // Reads and handles whatever has arrived, without waiting and without
  // waiting for another thread's exchange.
  void poll_incoming();

  // Marks the connection hung (5 -> 7).
  void mark_hung();

  // Marks it lost (state 4 unless already ended) and shuts the socket down;
  // the descriptor itself is closed with the object.
  void lose(std::string_view why);

 private:
  void send_unawaited(uint16_t type, std::array<wire::Text, 5> args);
  std::optional<wire::Reply> round_trip(uint16_t type, uint16_t wire_type,
                                        std::array<wire::Text, 5> &args);
  std::optional<wire::Reply> listing(std::array<wire::Text, 5> &args);
  std::optional<wire::Reply> from_kept(std::array<wire::Text, 5> &args);
  void drop_kept(const std::string &why);
  bool take_kept(wire::Reply &r);
  int read_once(Deadline deadline, bool wait);
  void take_pending();
  bool drain(uint32_t want, wire::Reply &out);
  bool handle(wire::Frame &f, uint32_t want, wire::Reply &out);
  void end_session();
  bool usable() const;

  Fd fd_;
  int timeout_ms_;
  std::mutex exchange_mu_;  // one reader at a time; guards reader_
  std::mutex write_mu_;     // whole frames only
  wire::FrameReader reader_;
  KeptDescriptions kept_;   // guarded by exchange_mu_
  bool bulk_known_ = true;  // false once vornd did not know the request
  std::atomic<int> state_{5};
  std::atomic<uint32_t> next_id_{1};
  std::atomic<uint32_t> noop_id_{0};  // 0: no no-op outstanding
  std::atomic<Clock::rep> noop_sent_{0};
};

}  // namespace vornal
