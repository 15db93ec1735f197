#include "vornd/brake.h"

#include <algorithm>

#include "vornd/log.h"

namespace vornd {
namespace {

using std::chrono::milliseconds;

constexpr auto kFirstDelay = milliseconds(250);
constexpr auto kMaxDelay = milliseconds(8000);
// Folded failures are reported at least this often while they go on.
constexpr auto kSummaryEvery = std::chrono::seconds(60);
// A peer without a failure for this long starts afresh.
constexpr auto kForgetAfter = std::chrono::minutes(10);
// Peers remembered at once; the one quiet longest makes room.
constexpr size_t kMaxPeers = 4096;

}  // namespace

Clock::duration login_delay(int failures) {
  if (failures <= 0) return Clock::duration::zero();
  if (failures > 6) return kMaxDelay;  // 250 ms << 5 is already 8 s
  return std::min<Clock::duration>(kFirstDelay * (1 << (failures - 1)),
                                   kMaxDelay);
}

Clock::time_point LoginBrake::next_attempt(const std::string &peer) const {
  auto it = peers_.find(peer);
  if (it == peers_.end()) return Clock::time_point::min();
  return it->second.last + login_delay(it->second.failures);
}

void LoginBrake::failed(const std::string &peer, std::string_view user,
                        Clock::time_point now) {
  if (!peers_.count(peer)) make_room();
  Record &r = peers_[peer];
  ++r.failures;
  r.last = now;
  r.last_user = quoted(user);
  if (r.failures == 1) {
    log_event("login of %s from %s refused", r.last_user.c_str(), peer.c_str());
    return;
  }
  if (r.unlogged++ == 0) r.summary_due = now + kSummaryEvery;
}

void LoginBrake::succeeded(const std::string &peer) {
  auto it = peers_.find(peer);
  if (it == peers_.end()) return;
  summarise(peer, it->second);
  peers_.erase(it);
}

void LoginBrake::summarise(const std::string &peer, Record &r) {
  if (r.unlogged == 0) return;
  log_event("%d more logins from %s refused (%d in a row, the last as %s)",
            r.unlogged, peer.c_str(), r.failures, r.last_user.c_str());
  r.unlogged = 0;
}

std::optional<Clock::time_point> LoginBrake::tick(Clock::time_point now) {
  std::optional<Clock::time_point> next;
  for (auto it = peers_.begin(); it != peers_.end();) {
    Record &r = it->second;
    if (r.unlogged && now >= r.summary_due) summarise(it->first, r);
    if (now - r.last >= kForgetAfter) {
      summarise(it->first, r);
      it = peers_.erase(it);
      continue;
    }
    Clock::time_point due = r.unlogged ? r.summary_due : r.last + kForgetAfter;
    if (!next || due < *next) next = due;
    ++it;
  }
  return next;
}

void LoginBrake::make_room() {
  if (peers_.size() < kMaxPeers) return;
  auto oldest = std::min_element(peers_.begin(), peers_.end(),
                                 [](const auto &a, const auto &b) {
                                   return a.second.last < b.second.last;
                                 });
  summarise(oldest->first, oldest->second);
  peers_.erase(oldest);
}

}  // namespace vornd
