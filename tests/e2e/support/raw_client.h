// A client that speaks the wire protocol by hand, for driving vornd without
// the client library and for sending it deliberately broken input.
#pragma once

#include <optional>
#include <string>

#include "wire/frame.h"

namespace e2e {

class RawClient {
 public:
  // Connects to a Unix socket path and exchanges greetings unless greet is
  // false. Failures fail the test.
  explicit RawClient(const std::string &unix_path, bool greet = true);
  ~RawClient();
  RawClient(const RawClient &) = delete;
  RawClient &operator=(const RawClient &) = delete;

  // Returns the reply to one request; an empty Reply (no status) when the
  // daemon closed or did not answer within 10 s.
  wire::Reply call(uint16_t type, wire::Text a1 = {}, wire::Text a2 = {},
                   wire::Text a3 = {}, wire::Text a4 = {}, wire::Text a5 = {});
  // Returns the status of a request, "<none>" when none came.
  std::string status(uint16_t type, wire::Text a1 = {}, wire::Text a2 = {},
                     wire::Text a3 = {}, wire::Text a4 = {},
                     wire::Text a5 = {});
  // Logs in as user over the Unix socket; returns the status.
  std::string login(const std::string &user, bool force = false);
  // Writes raw bytes.
  void send_raw(const std::string &bytes);
  // Returns the next frame, or nullopt on close, garbage or time-out.
  std::optional<wire::Frame> next_frame(int timeout_ms = 10000);
  // Returns true when the daemon closes the connection within timeout_ms.
  bool closed_within(int timeout_ms);
  // Returns the daemon's greeting bytes ("" when none came).
  std::string read_hello(int timeout_ms = 5000);

 private:
  void greet();
  bool fill(int timeout_ms);
  int fd_ = -1;
  uint32_t next_id_ = 1;
  wire::FrameReader reader_;
};

}  // namespace e2e
