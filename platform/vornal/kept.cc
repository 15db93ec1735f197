#include "kept.h"

#include <algorithm>

#include "vornal.h"
#include "wire/bulk.h"

namespace vornal {

void KeptDescriptions::start(uint32_t id, std::string_view base,
                             std::string listing) {
  drop();
  active_ = more_ = true;
  id_ = id;
  base_ = base;
  listing_ = std::move(listing);
  line_ = 0;
  advance_line();
}

size_t KeptDescriptions::left() const {
  if (!active_) return 0;
  if (line_ > listing_.size()) return 1;  // the expected line is the last
  std::string_view rest = std::string_view(listing_).substr(line_);
  return 2 + static_cast<size_t>(std::count(rest.begin(), rest.end(), '\n'));
}

void KeptDescriptions::drop() {
  active_ = false;
  frames_.clear();
  pos_ = 0;
  std::string().swap(listing_);
  expected_ = {};
}

// Sets expected_ to the listing line at line_ and moves line_ past it.
void KeptDescriptions::advance_line() {
  std::string_view all(listing_);
  size_t end = std::min(all.find('\n', line_), all.size());
  expected_ = all.substr(line_, end - line_);
  line_ = end + 1;
}

bool KeptDescriptions::fits(uint16_t type,
                            const std::array<wire::Text, 5> &a) const {
  return active_ && type == VORNAL_MSG_DESCRIBE && !a[0] && a[1] && !a[2] &&
         !a[3] && !a[4] && wire::is_listed_path(base_, expected_, *a[1]) &&
         (!frames_.empty() || more_);
}

KeptDescriptions::Take KeptDescriptions::take(wire::Reply &frame) {
  if (!more_ || frame.id != id_) return Take::not_ours;
  bool end = frame.status == wire::kBulkEnd;
  if (!end && frame.status != wire::kBulkMore) return Take::bad;
  more_ = !end;
  if (!active_ || !frame.reply) return Take::taken;
  // Checked whole now, so that handing out never meets a broken entry.
  std::string_view chunk(*frame.reply);
  wire::Text r, s;
  size_t pos = 0;
  while (wire::next_entry(chunk, pos, r, s)) {
  }
  if (pos != chunk.size()) return Take::bad;
  if (!chunk.empty()) frames_.push_back(std::move(*frame.reply));
  return Take::taken;
}

bool KeptDescriptions::next(wire::Text &reply, wire::Text &status) {
  if (frames_.empty() ||
      !wire::next_entry(frames_.front(), pos_, reply, status))
    return false;
  if (pos_ == frames_.front().size()) {
    frames_.pop_front();
    pos_ = 0;
  }
  if (line_ > listing_.size()) {  // that was the last listed node
    drop();
  } else {
    advance_line();
  }
  return true;
}

}  // namespace vornal
