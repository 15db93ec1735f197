// Feeds arbitrary bytes to the daemon's request handling as the stream a
// client sends after its greeting, on the demo model: any request in any
// session state (before login, logged in, in a batch, logged out). Every
// reply must fit a frame, and the running configuration must always be
// one that the store writes and reads back unchanged.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "vornd/handlers.h"
#include "vornd/store.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

const vornd::Model &demo_model() {
  static std::unique_ptr<vornd::Model> model = [] {
    std::ifstream in(VELMAR_DEMO_MODEL);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::string error;
    auto m = vornd::load_model(text, "demo", error);
    check(m.has_value());
    return std::move(*m);
  }();
  return *model;
}

// Answers one request the way the server does once the login is decided:
// a login always succeeds here (authentication has its own target).
wire::Reply serve(vornd::Core &core, std::optional<vornd::Session> &s,
                  const wire::Request &q) {
  wire::Reply r{q.id, std::nullopt, "OK"};
  if (q.type == vornd::kLogin) {
    s.emplace(core.open_session(q.args[3].value_or("")));
  } else if (q.type == vornd::kLogout) {
    s.reset();
  } else if (q.type != vornd::kNoop && !s) {
    r.status = "ERR Not logged in";
  } else if (q.type != vornd::kNoop) {
    vornd::Answer a = core.handle(*s, q);
    r.reply = std::move(a.reply);
    r.status = std::move(a.status);
  }
  return r;
}

void check_storable(const vornd::Tree &running) {
  std::string text = vornd::store_text(running);
  vornd::Tree again(demo_model());
  check(vornd::apply_store_text(again, text, "again").empty());
  check(vornd::store_text(again) == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  vornd::Core core(demo_model(), "");
  std::optional<vornd::Session> session;
  wire::FrameReader reader;
  reader.feed(std::string_view(reinterpret_cast<const char *>(data), size));
  wire::Frame f;
  for (int n = 0; n < 64 && reader.next(f) == wire::DecodeStatus::ok; ++n) {
    if (f.kind != wire::Kind::request) break;
    wire::Reply r = serve(core, session, f.request);
    check(r.status.has_value());
    check(wire::encode(r).size() <= wire::kLengthSize + wire::kMaxFrame);
    if (f.request.type == vornd::kCommit || f.request.type == vornd::kRevert)
      check_storable(core.running());
  }
  check_storable(core.running());
  return 0;
}
