// Fuzz targets of the daemon's readers of outside input.
#include <fstream>
#include <iterator>
#include <string>

#include "vornd/auth.h"
#include "vornd/handlers.h"
#include "vornd/store.h"

void check(bool ok, const char *what);

namespace {

// Returns the model in text, which must load.
std::unique_ptr<vornd::Model> must_load(const std::string &text) {
  std::string error;
  auto m = vornd::load_model(text, "fuzz", error);
  check(m.has_value(), "fixed model refused");
  return std::move(*m);
}

// Checks that the store of running reads back, on model, to the same text.
void check_storable(const vornd::Tree &running, const vornd::Model &model) {
  std::string text = vornd::store_text(running);
  vornd::Core again(model, "");
  check(vornd::apply_store_text(again.running(), text, "again").empty() &&
            vornd::store_text(again.running()) == text,
        "store does not read back");
}

}  // namespace

// Applies a store: refused, the tree is unchanged; read, it stores back.
void fuzz_vornd_store(std::string_view in) {
  static std::unique_ptr<vornd::Model> model = must_load(R"({"nodes": [
 {"name": "sys", "children": [{"name": "name", "type": "string", "max_len": 8,
 "pattern": "[a-z]*"}, {"name": "level", "type": "integer", "min": 1, "max": 5},
 {"name": "on", "type": "boolean"}]}, {"name": "ports", "ops": "adhl", "mirror":
 "/state", "entry": {"ops": "hlr", "children": [{"name": "mtu", "max": 9000,
 "type": "integer", "min": 68}, {"name": "tap", "type": "boolean", "reveal":
 {"when": "true", "at": "/", "node": {"name": "tapping"}}}]}, "entries": ["a",
 "b"]}, {"name": "state", "entry": {"children": [{"name": "link", "ops": "hg",
 "type": "string"}]}}]})");
  vornd::Tree t(*model);
  std::string before = vornd::store_text(t);
  if (!vornd::apply_store_text(t, in, "fuzz").empty())
    return check(vornd::store_text(t) == before, "refused store changed");
  check_storable(t, *model);
}

// Loads a model: refused naming its origin, or listed, described, stored.
void fuzz_vornd_model(std::string_view in) {
  std::string error;
  auto m = vornd::load_model(std::string(in), "fuzz.json", error);
  if (!m) return check(error.rfind("fuzz.json", 0) == 0, "error origin");
  vornd::Core core(**m, "");  // settles mirrors and reveals, as at start
  check(vornd::do_list(core.running(), "/").status == "OK", "list of /");
  vornd::do_describe(core.running(), "/");
  check_storable(core.running(), **m);
}

// Reads a users file: refused naming its line, or read back the same.
void fuzz_vornd_users(std::string_view in) {
  std::string error, back;
  std::optional<vornd::Users> users = vornd::parse_users(in, "u", error);
  if (!users) return check(error.rfind("u:", 0) == 0, "error origin");
  for (const auto &[name, hash] : *users) back += name + ":" + hash + "\n";
  check(!users->count("") && vornd::parse_users(back, "u", error) == users,
        "empty user name, or users read back otherwise");
}

// Serves a client's requests on the demo model (any login succeeds):
// replies fit a frame, the running configuration always stores back.
void fuzz_vornd_request(std::string_view in) {
  static std::unique_ptr<vornd::Model> demo = [] {
    std::ifstream file(VELMAR_DEMO_MODEL);
    return must_load(std::string(std::istreambuf_iterator<char>(file), {}));
  }();
  vornd::Core core(*demo, "");
  std::optional<vornd::Session> s;
  wire::FrameReader reader;
  reader.feed(in);
  wire::Frame f;
  for (int n = 0; n < 64 && reader.next(f) == wire::DecodeStatus::ok; ++n) {
    if (f.kind != wire::Kind::request) break;
    const wire::Request &q = f.request;
    vornd::Answer a{std::nullopt, "OK"};
    if (q.type == vornd::kLogin)
      s.emplace(core.open_session(q.args[3].value_or("")));
    else if (q.type == vornd::kLogout)
      s.reset();
    else if (q.type != vornd::kNoop && s)
      a = core.handle(*s, q);
    check(wire::encode(wire::Reply{q.id, a.reply, a.status}).size() <=
              wire::kLengthSize + wire::kMaxFrame,
          "reply over the frame limit");
  }
  check_storable(core.running(), *demo);
}
