#include "vornd/bulk.h"

#include "vornd/handlers.h"
#include "wire/bulk.h"

namespace vornd {

std::string BulkAnswer::next_frame(const Tree &t) {
  std::string chunk;
  std::string_view all(listing_);
  while (pos_ <= all.size() && chunk.size() < wire::kBulkChunk) {
    size_t end = all.find('\n', pos_);
    if (end == std::string_view::npos) end = all.size();
    // Exactly what a description request for the client's path answers.
    std::string_view line = all.substr(pos_, end - pos_);
    Answer a = do_describe(t, wire::is_plain_line(line)
                                  ? wire::plain_listed_path(base_, line)
                                  : wire::listed_path(base_, line));
    wire::append_entry(chunk, a.reply, a.status);
    pos_ = end + 1;
  }
  done_ = pos_ > all.size();
  if (done_) std::string().swap(listing_);
  return wire::encode(
      wire::Reply{id_, std::move(chunk),
                  std::string(done_ ? wire::kBulkEnd : wire::kBulkMore)});
}

}  // namespace vornd
