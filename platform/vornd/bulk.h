// The descriptions part of an answer to a listing with descriptions
// (wire/bulk.h), made a frame at a time as the client reads them, so that
// a large tree never waits whole in the daemon's output.
#pragma once

#include <cstdint>
#include <string>

#include "vornd/tree.h"

namespace vornd {

class BulkAnswer {
 public:
  // For request id, listing the node at base with the listing text given.
  BulkAnswer(uint32_t id, std::string base, std::string listing)
      : id_(id), base_(std::move(base)), listing_(std::move(listing)) {}

  // Returns the next frame, length prefix included: the descriptions on t
  // of the next listed nodes, as a description request of each would get.
  std::string next_frame(const Tree &t);
  // Returns true once the last frame was made.
  bool done() const { return done_; }

 private:
  uint32_t id_;
  std::string base_, listing_;
  size_t pos_ = 0;  // start of the next listing line
  bool done_ = false;
};

}  // namespace vornd
