#include "support/fake_vornal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

struct vornal_message {
  fake_vornal::reply r;
};

namespace fake_vornal {
namespace {

struct rule {
  int type;
  text path;  // nullopt: any path
  text name;  // nullopt: any name
  reply r;
  int times;
};

struct fake_state {
  std::vector<rule> rules;
  std::function<std::optional<reply>(const request &)> responder;
  reply fallback;
  std::vector<request> log;
  std::map<vornal_message *, std::unique_ptr<vornal_message>> handles;
  link_state link;
};

fake_state &state() {
  static fake_state s;
  return s;
}

text from_c(const char *s) {
  return s ? text(s) : std::nullopt;
}

// Returns 2 for a path-and-name rule, 1 for a path rule, 0 for any-path,
// -1 when the rule does not fit the request.
int fit(const rule &r, const request &q) {
  if (r.type != q.type || r.times == 0) return -1;
  if (r.path && r.path != q.args[1]) return -1;
  if (r.name && r.name != q.args[3]) return -1;
  return r.name ? 2 : r.path ? 1 : 0;
}

// Returns the scripted answer to q, using up one use of its rule.
reply answer_for(const request &q) {
  fake_state &s = state();
  if (s.responder)
    if (std::optional<reply> r = s.responder(q)) return *r;
  rule *best = nullptr;
  int best_fit = -1;
  for (rule &r : s.rules) {
    int f = fit(r, q);
    if (f > best_fit) best = &r, best_fit = f;
  }
  if (!best) return s.fallback;
  if (best->times > 0) best->times--;
  return best->r;
}

std::string describe(const request &q) {
  std::string out = std::to_string(q.type) + "(";
  for (int i = 0; i < 5; i++)
    out += (i ? "," : "") + (q.args[i] ? "\"" + *q.args[i] + "\"" : "NULL");
  return out + ")";
}

char *copy_out(const text &t) {
  return t ? strdup(t->c_str()) : nullptr;
}

// Aborts on a handle this stand-in never handed out (or already released).
vornal_message *checked(vornal_message *m) {
  if (!state().handles.count(m)) {
    fprintf(stderr, "fake_vornal: unknown message handle %p\n",
            static_cast<void *>(m));
    abort();
  }
  return m;
}

}  // namespace

void reset() {
  state() = fake_state();
}

void on(int type, text path, text name, reply r, int times) {
  state().rules.push_back({type, path, name, r, times});
}

void respond_with(std::function<std::optional<reply>(const request &)> fn) {
  state().responder = std::move(fn);
}

void set_default(reply r) {
  state().fallback = r;
}

const std::vector<request> &requests() {
  return state().log;
}

std::vector<std::string> request_texts(int type) {
  std::vector<std::string> out;
  for (const request &q : state().log)
    if (type < 0 || q.type == type) out.push_back(describe(q));
  return out;
}

void clear_requests() {
  state().log.clear();
}

int live_handles() {
  return static_cast<int>(state().handles.size());
}

link_state &link() {
  return state().link;
}

}  // namespace fake_vornal

using fake_vornal::state;

extern "C" {

int vornal_connect(const char *) {
  fake_vornal::link().connects++;
  return fake_vornal::link().state = VORNAL_STATE_CONNECTED;
}

// Tests compare with this function's own text, so one text per code is
// all it needs.
const char *vornal_conn_error(int code) {
  static std::map<int, std::string> texts;
  return texts.emplace(code, "error " + std::to_string(code))
      .first->second.c_str();
}

int vornal_get_connection_state(void) {
  return fake_vornal::link().state;
}

void vornal_set_keep_alive(int seconds, int) {
  fake_vornal::link().keep_alive_seconds = seconds;
}

void vornal_set_connection_debugging(int) {}

vornal_message *vornal_send_message(int type, const char *a1, const char *a2,
                                    const char *a3, const char *a4,
                                    const char *a5) {
  using fake_vornal::from_c;
  fake_vornal::request q{
      type, {from_c(a1), from_c(a2), from_c(a3), from_c(a4), from_c(a5)}};
  state().log.push_back(q);
  fake_vornal::reply r = fake_vornal::answer_for(q);
  if (!r.handle) return nullptr;
  auto owned = std::make_unique<vornal_message>(vornal_message{r});
  vornal_message *m = owned.get();
  state().handles.emplace(m, std::move(owned));
  return m;
}

char *vornal_get_message_reply(vornal_message *m) {
  return fake_vornal::copy_out(fake_vornal::checked(m)->r.body);
}

char *vornal_get_message_response_status(vornal_message *m) {
  return fake_vornal::copy_out(fake_vornal::checked(m)->r.status);
}

void vornal_message_free(vornal_message *m) {
  if (m) state().handles.erase(fake_vornal::checked(m));
}

void vornal_disconnect(void) {
  fake_vornal::link().state = VORNAL_STATE_NOT_CONNECTED;
}

// The stand-in answers at once and so never waits: there is no wait to
// hand an interrupt back from.
void vornal_set_wait_hook(vornal_wait_hook) {}

}  // extern "C"
