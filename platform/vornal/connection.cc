#include "connection.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "trace.h"
#include "vornal.h"
#include "waiting.h"
#include "wire/bulk.h"

namespace vornal {
namespace {

// Set while this thread is inside an exchange, so that a signal handler
// calling back into the library fails at once instead of deadlocking.
thread_local bool t_in_exchange = false;
// Set while this thread holds the write lock: the wait hook may run inside
// a slow write, and a request from it must not take the lock again.
thread_local bool t_writing = false;

struct WritingMark {
  WritingMark() { t_writing = true; }
  ~WritingMark() { t_writing = false; }
  WritingMark(const WritingMark &) = delete;
  WritingMark &operator=(const WritingMark &) = delete;
};

struct ExchangeMark {
  ExchangeMark() { t_in_exchange = true; }
  ~ExchangeMark() { t_in_exchange = false; }
  ExchangeMark(const ExchangeMark &) = delete;
  ExchangeMark &operator=(const ExchangeMark &) = delete;
};

// A no-op write is a few bytes; if it cannot go out in this time the socket
// is stuck and the daemon is treated as gone.
constexpr std::chrono::seconds kNoopWriteLimit{1};

// A reply is awaited in a blocking read rather than poll and read: one
// system call less and a cheaper wake-up per request. The read gives up
// after a wait slice so that the deadline and the wait hook get their turn.

// Reads the daemon's 8-byte greeting before deadline. Returns 0 or an error
// code; extra bytes are never read.
int read_hello(const Fd &fd, Deadline deadline, std::string &hello) {
  char buf[wire::kHelloSize];
  while (hello.size() < wire::kHelloSize) {
    int w = wait_readable(fd, deadline);
    if (w == 0) return VORNAL_ERR_TIMEOUT;
    if (w < 0) return VORNAL_ERR_OSERR;
    long n = read_some(fd, buf, wire::kHelloSize - hello.size());
    if (n == -2) continue;
    if (n <= 0) return VORNAL_ERR_PROTOCOL;  // closed without a greeting
    hello.append(buf, static_cast<size_t>(n));
  }
  return 0;
}

}  // namespace

int Connection::open(std::string_view server, int timeout_ms,
                     std::unique_ptr<Connection> &out) {
  Deadline deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  Fd fd;
  int err = open_transport(server, deadline, fd);
  if (err != 0) return err;
  int sent = send_all(fd, wire::encode_hello(), deadline);
  if (sent == ETIMEDOUT) return VORNAL_ERR_TIMEOUT;
  if (sent == EPIPE || sent == ECONNRESET) return VORNAL_ERR_PROTOCOL;
  if (sent != 0) return VORNAL_ERR_OSERR;
  std::string hello;
  err = read_hello(fd, deadline, hello);
  if (err != 0) return err;
  std::optional<uint16_t> version = wire::decode_hello(hello);
  if (!version || *version != wire::kVersion) return VORNAL_ERR_PROTOCOL;
  if (make_blocking(fd, std::min(timeout_ms, kWaitSliceMs)) != 0)
    return VORNAL_ERR_OSERR;
  out = std::make_unique<Connection>(std::move(fd), timeout_ms);
  return VORNAL_STATE_CONNECTED;
}

bool Connection::usable() const {
  int s = state();
  return s == VORNAL_STATE_CONNECTED || s == VORNAL_STATE_HUNG;
}

std::optional<wire::Reply> Connection::exchange(
    uint16_t type, std::array<wire::Text, 5> args) {
  if (t_in_exchange) {
    send_unawaited(type, std::move(args));
    return std::nullopt;
  }
  if (!usable()) return std::nullopt;
  ExchangeMark mark;
  std::lock_guard<std::mutex> lock(exchange_mu_);
  if (kept_.fits(type, args)) return from_kept(args);
  if (kept_.active())
    drop_kept(type == VORNAL_MSG_DESCRIBE
                  ? "a description request out of listing order"
                  : "a request of type " + std::to_string(type));
  if (type == VORNAL_MSG_LIST && bulk_known_) return listing(args);
  return round_trip(type, type, args);
}

// Asks for a listing with the descriptions of its nodes and keeps those.
// A daemon that does not know the request gets the plain listing request.
std::optional<wire::Reply> Connection::listing(
    std::array<wire::Text, 5> &args) {
  std::array<wire::Text, 5> again = args;
  std::optional<wire::Reply> r =
      round_trip(VORNAL_MSG_LIST, wire::kListDescribed, args);
  if (r && !r->reply && r->status == "ERR Unknown request") {
    bulk_known_ = false;
    trace::event("vornd lists without descriptions: asking again");
    return round_trip(VORNAL_MSG_LIST, VORNAL_MSG_LIST, again);
  }
  if (r && r->reply) kept_.start(r->id, again[1].value_or(""), *r->reply);
  return r;
}

// Sends a request of the caller's type as wire_type and waits (bounded)
// for its reply.
std::optional<wire::Reply> Connection::round_trip(
    uint16_t type, uint16_t wire_type, std::array<wire::Text, 5> &args) {
  wire::Request req{0, wire_type, std::move(args)};
  Deadline deadline = Clock::now() + std::chrono::milliseconds(timeout_ms_);
  int err;
  {
    // Ids are taken under the write lock so that they reach the daemon in
    // increasing order, also when a no-op goes out at the same moment.
    std::lock_guard<std::mutex> wlock(write_mu_);
    WritingMark writing;
    req.id = next_id_++;
    std::string frame = wire::encode(req);
    if (frame.size() - wire::kLengthSize > wire::kMaxFrame) {
      trace::event("request too large, not sent");
      return std::nullopt;
    }
    // The trace texts escape whole replies: build them only when tracing.
    // The line shows the caller's request, and the type sent when other.
    if (type != VORNAL_MSG_NOOP && trace::enabled())
      trace::emit(trace::marked(
          trace::request_line({req.id, type, req.args}),
          wire_type == type ? ""
                            : "as type " + std::to_string(wire_type) +
                                  ", with the descriptions of its nodes"));
    err = send_all(fd_, frame, deadline);
  }
  if (err != 0) {
    // A daemon that ended the session closes the socket after its notice;
    // the unread notice, not the failed write, says what happened.
    take_pending();
    lose(std::string("send failed: ") + strerror(err));
    return std::nullopt;
  }
  wire::Reply out;
  for (;;) {
    if (drain(req.id, out)) {
      if (type != VORNAL_MSG_NOOP && trace::enabled())
        trace::emit(trace::reply_line(out));
      return out;
    }
    if (!usable()) return std::nullopt;
    int rc = read_once(deadline, true);
    if (rc == 0) {
      lose("no reply to #" + std::to_string(req.id) + " within " +
           std::to_string(timeout_ms_) + " ms");
      return std::nullopt;
    }
    if (rc < 0) return std::nullopt;
  }
}

// Answers a description request from the kept descriptions, waiting
// (bounded) for the frame that brings its description. Nothing is sent,
// but the request takes its id as if it were, so that the ids of later
// requests stay what they would be.
std::optional<wire::Reply> Connection::from_kept(
    std::array<wire::Text, 5> &args) {
  wire::Reply out{next_id_++, std::nullopt, std::nullopt};
  if (trace::enabled())
    trace::emit(
        trace::marked(trace::request_line({out.id, VORNAL_MSG_DESCRIBE, args}),
                      "from memory, not sent"));
  std::optional<Deadline> deadline;  // set once the answer must be awaited
  wire::Reply unused;
  while (!kept_.next(out.reply, out.status)) {
    if (!deadline)
      deadline = Clock::now() + std::chrono::milliseconds(timeout_ms_);
    if (drain(0, unused) || !usable()) return std::nullopt;
    if (kept_.next(out.reply, out.status)) break;
    if (!kept_.coming()) {  // the daemon described fewer nodes
      drop_kept("fewer descriptions than listed nodes");
      return round_trip(VORNAL_MSG_DESCRIBE, VORNAL_MSG_DESCRIBE, args);
    }
    int rc = read_once(*deadline, true);
    if (rc == 0) {
      lose("descriptions of #" + std::to_string(kept_.id()) +
           " not in within " + std::to_string(timeout_ms_) + " ms");
      return std::nullopt;
    }
    if (rc < 0) return std::nullopt;
  }
  if (trace::enabled())
    trace::emit(trace::marked(trace::reply_line(out), "from memory"));
  return out;
}

void Connection::drop_kept(const std::string &why) {
  if (kept_.active())
    trace::event("kept descriptions dropped, " + std::to_string(kept_.left()) +
                 " listed nodes not asked for: " + why);
  kept_.drop();
}

// A request from the wait hook while this thread awaits a reply (a logout
// before the process ends, say): written whole when the write lock is free
// at once, never awaited. Its late reply is dropped as a stray.
void Connection::send_unawaited(uint16_t type, std::array<wire::Text, 5> args) {
  if (!in_wait_hook() || t_writing || !usable()) return;
  std::unique_lock<std::mutex> wlock(write_mu_, std::try_to_lock);
  if (!wlock.owns_lock()) return;
  wire::Request req{next_id_++, type, std::move(args)};
  std::string frame = wire::encode(req);
  if (frame.size() - wire::kLengthSize > wire::kMaxFrame) return;
  if (trace::enabled()) trace::emit(trace::request_line(req));
  send_all(fd_, frame, Clock::now() + kNoopWriteLimit);
}

bool Connection::send_noop() {
  if (!usable() || noop_id_.load() != 0) return false;
  std::unique_lock<std::mutex> wlock(write_mu_, std::try_to_lock);
  if (!wlock.owns_lock()) return false;
  uint32_t id = next_id_++;
  Clock::time_point now = Clock::now();
  // Recorded before the write: the reply may be read by another thread
  // before send() returns here.
  noop_sent_.store(now.time_since_epoch().count());
  noop_id_.store(id);
  int err = send_all(fd_, wire::encode(wire::Request{id, 0, {}}),
                     now + kNoopWriteLimit);
  wlock.unlock();
  if (err != 0) {
    poll_incoming();  // a notice read now keeps the state "ended"
    lose(std::string("keep-alive not sent: ") + strerror(err));
  }
  return err == 0;
}

std::optional<Clock::time_point> Connection::noop_sent_at() const {
  if (noop_id_.load() == 0) return std::nullopt;
  return Clock::time_point(Clock::duration(noop_sent_.load()));
}

void Connection::poll_incoming() {
  if (t_in_exchange || !usable()) return;
  std::unique_lock<std::mutex> lock(exchange_mu_, std::try_to_lock);
  if (!lock.owns_lock()) return;  // the exchange in progress reads for us
  take_pending();
}

// Reads and handles what has arrived, without waiting; the caller holds
// exchange_mu_.
void Connection::take_pending() {
  wire::Reply unused;
  for (;;) {
    drain(0, unused);
    if (!usable() || read_once(Clock::now(), false) <= 0) return;
  }
}

void Connection::mark_hung() {
  int expect = VORNAL_STATE_CONNECTED;
  if (state_.compare_exchange_strong(expect, VORNAL_STATE_HUNG))
    trace::event("keep-alive reply overdue: connection hung");
}

void Connection::lose(std::string_view why) {
  int s = state();
  while (s == VORNAL_STATE_CONNECTED || s == VORNAL_STATE_HUNG) {
    if (state_.compare_exchange_weak(s, VORNAL_STATE_LOST)) {
      trace::event(std::string("connection lost: ").append(why));
      break;
    }
  }
  // Shut down rather than close: another thread may be polling this fd.
  ::shutdown(fd_.get(), SHUT_RDWR);
}

// Gives kept_ a frame of a listing's descriptions. Returns false when the
// frame is none.
bool Connection::take_kept(wire::Reply &r) {
  size_t bytes = r.reply ? r.reply->size() : 0;
  bool last = r.status == wire::kBulkEnd;
  switch (kept_.take(r)) {
    case KeptDescriptions::Take::not_ours:
      return false;
    case KeptDescriptions::Take::bad:
      lose("malformed descriptions from the daemon");
      return true;
    case KeptDescriptions::Take::taken:
      if (trace::enabled())
        trace::event("recv #" + std::to_string(r.id) + " descriptions, " +
                     std::to_string(bytes) + " bytes" +
                     (last ? ", the last" : ", more follow") +
                     (kept_.active() ? "" : " (skipped: dropped)"));
      return true;
  }
  return false;
}

void Connection::end_session() {
  state_.store(VORNAL_STATE_ENDED);
  ::shutdown(fd_.get(), SHUT_RDWR);
}

// Reads bytes, waiting up to one read slice when wait is set, and buffers
// them. Returns 1 when bytes came or the wait goes on, 0 when nothing came
// by the deadline, -1 when the connection is gone.
int Connection::read_once(Deadline deadline, bool wait) {
  char buf[16384];
  long n = read_some(fd_, buf, sizeof buf, wait);
  if (n == -2 && wait) wait_slice_passed();
  if (n == -2) return wait && ms_left(deadline) > 0 ? 1 : 0;
  if (n <= 0) {
    lose(n == 0 ? "daemon closed the connection" : "read failed");
    return -1;
  }
  reader_.feed(std::string_view(buf, static_cast<size_t>(n)));
  return 1;
}

// Handles the whole frames buffered, up to the reply with id want, which
// ends up in out (then true). Frames after it wait for the next drain: a
// listing's descriptions that follow its reply are kept only once the
// listing is in.
bool Connection::drain(uint32_t want, wire::Reply &out) {
  wire::Frame f;
  for (;;) {
    wire::DecodeStatus st = reader_.next(f);
    if (st == wire::DecodeStatus::need_more) return false;
    if (st == wire::DecodeStatus::bad) {
      lose("malformed frame from the daemon");
      return false;
    }
    if (handle(f, want, out)) return true;
  }
}

// Acts on one frame. Returns true when it is the reply with id want.
bool Connection::handle(wire::Frame &f, uint32_t want, wire::Reply &out) {
  if (f.kind == wire::Kind::notice) {
    trace::emit(trace::notice_line(f.notice));
    drop_kept("a notice");
    if (f.notice.code == wire::kNoticeSessionEnded) end_session();
    return false;
  }
  if (f.kind != wire::Kind::reply) {
    lose("unexpected request from the daemon");
    return false;
  }
  if (take_kept(f.reply)) return false;
  if (want != 0 && f.reply.id == want) {
    out = std::move(f.reply);
    return true;
  }
  uint32_t noop = f.reply.id;
  if (noop != 0 && noop_id_.compare_exchange_strong(noop, 0)) {
    int hung = VORNAL_STATE_HUNG;
    state_.compare_exchange_strong(hung, VORNAL_STATE_CONNECTED);
    return false;
  }
  trace::event("ignored reply #" + std::to_string(f.reply.id));
  return false;
}

}  // namespace vornal
