// The descriptions that came with the caller's last listing (wire/bulk.h),
// kept to answer its description requests that follow in listing order.
// Frames of the answer are taken as they arrive; each description is
// handed out once and its frame released when all of it is used, so the
// library never holds the whole answer twice. Guarded by the connection's
// exchange lock.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>

#include "wire/frame.h"

namespace vornal {

class KeptDescriptions {
 public:
  // Starts keeping for the answer with id to the listing of base.
  void start(uint32_t id, std::string_view base, std::string listing);
  // Forgets what is kept; the answer's later frames are skipped.
  void drop();
  // Returns true while descriptions are kept or still to come.
  bool active() const { return active_; }
  // Returns the number of listed nodes not yet asked about (counted: for
  // traces only).
  size_t left() const;
  // Returns the id of the answer.
  uint32_t id() const { return id_; }
  // Returns true while a description has come or may still come.
  bool coming() const { return !frames_.empty() || more_; }

  // Returns true when a description request with args asks for the next
  // listed node and its description has come or may still come.
  bool fits(uint16_t type, const std::array<wire::Text, 5> &args) const;

  enum class Take { not_ours, taken, bad };
  // Takes a frame of the answer (or skips one of a dropped answer).
  // Returns not_ours for any other reply, bad for a malformed frame.
  Take take(wire::Reply &frame);

  // Moves the next description into reply and status, when it has come.
  bool next(wire::Text &reply, wire::Text &status);

 private:
  void advance_line();

  bool active_ = false;
  uint32_t id_ = 0;    // of the answer, also while skipping its frames
  bool more_ = false;  // frames of the answer id_ are still to come
  std::string base_, listing_;
  std::string_view expected_;  // the listing line whose description is next
  size_t line_ = 0;            // start of the listing line after it
  std::deque<std::string> frames_;
  size_t pos_ = 0;  // in frames_.front()
};

}  // namespace vornal
