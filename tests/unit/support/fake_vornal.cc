#include "support/fake_vornal.h"

#include <stdlib.h>
#include <string.h>

#include <map>
#include <set>
#include <tuple>

struct vornal_message : fake_vornal::reply {};

namespace fake_vornal {
namespace {

using key = std::tuple<int, text, text>;

struct fake_state {
  std::map<key, reply> rules;
  std::function<std::optional<reply>(const request &)> responder;
  reply fallback;
  std::vector<request> log;
  std::set<vornal_message *> handles;
} s;

// Returns the scripted answer to q.
reply answer_for(const request &q) {
  if (s.responder)
    if (std::optional<reply> r = s.responder(q)) return *r;
  for (const key &k :
       {key{q.type, q.args[1], q.args[3]}, key{q.type, q.args[1], std::nullopt},
        key{q.type, std::nullopt, std::nullopt}})
    if (s.rules.count(k)) return s.rules[k];
  return s.fallback;
}

// Returns a copy of m's status or reply; aborts on a handle never handed
// out or already released.
char *copy_out(vornal_message *m, bool status) {
  if (!s.handles.count(m)) abort();
  const text &t = status ? m->status : m->body;
  return t ? strdup(t->c_str()) : nullptr;
}

}  // namespace

void reset() {
  for (vornal_message *m : s.handles) delete m;
  s = fake_state();
}
void on(int type, text path, reply r, text name) {
  s.rules[key{type, path, name}] = r;
}
void respond_with(std::function<std::optional<reply>(const request &)> fn) {
  s.responder = std::move(fn);
}
void set_default(reply r) {
  s.fallback = r;
}
const std::vector<request> &requests() {
  return s.log;
}
int live_handles() {
  return static_cast<int>(s.handles.size());
}

}  // namespace fake_vornal

using namespace fake_vornal;

extern "C" {

// The link is always up and answers at once, so it never waits.
// clang-format off
int vornal_connect(const char *) { return VORNAL_STATE_CONNECTED; }
int vornal_get_connection_state(void) { return VORNAL_STATE_CONNECTED; }
const char *vornal_conn_error(int) { return "error"; }
void vornal_disconnect(void) {}
void vornal_set_keep_alive(int, int) {}
void vornal_set_connection_debugging(int) {}
void vornal_set_wait_hook(vornal_wait_hook) {}
// clang-format on

vornal_message *vornal_send_message(int type, const char *a1, const char *a2,
                                    const char *a3, const char *a4,
                                    const char *a5) {
  request q{type, {}};
  const char *args[] = {a1, a2, a3, a4, a5};
  for (int i = 0; i < 5; i++) q.args[i] = args[i] ? text(args[i]) : text();
  s.log.push_back(q);
  reply r = answer_for(q);
  return r.handle ? *s.handles.insert(new vornal_message{r}).first : nullptr;
}

char *vornal_get_message_reply(vornal_message *m) {
  return copy_out(m, false);
}
char *vornal_get_message_response_status(vornal_message *m) {
  return copy_out(m, true);
}
void vornal_message_free(vornal_message *m) {
  if (m && !s.handles.erase(m)) abort();
  delete m;
}

}  // extern "C"
