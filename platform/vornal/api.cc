// The C entry points of libvornal2: one connection per process, held here.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "connection.h"
#include "export.h"
#include "keepalive.h"
#include "trace.h"
#include "waiting.h"

// A reply kept for the caller: its own copies of both texts.
struct vornal_message {
  wire::Text reply;
  wire::Text status;
};

namespace vornal {
namespace {

constexpr int kDefaultTimeoutMs = 30000;

// The process's connection and its keep-alive. The lock is held only to
// swap or copy the pointers, never during an exchange.
struct Client {
  std::mutex mu;
  std::shared_ptr<Connection> conn;
  std::unique_ptr<KeepAlive> keep_alive;
};

Client &client() {
  static Client c;
  return c;
}

// Returns the reply time-out: VORNAL_TIMEOUT_MS when it is a positive
// number, else 30 s.
int timeout_ms() {
  const char *env = getenv("VORNAL_TIMEOUT_MS");
  if (!env || !*env) return kDefaultTimeoutMs;
  char *end = nullptr;
  long v = strtol(env, &end, 10);
  if (*end != '\0' || v <= 0 || v > 24L * 3600 * 1000) return kDefaultTimeoutMs;
  return static_cast<int>(v);
}

// Returns the current connection, shared so that a concurrent disconnect
// cannot free it under the caller.
std::shared_ptr<Connection> current() {
  std::lock_guard<std::mutex> lock(client().mu);
  return client().conn;
}

// Stops the keep-alive (joining its thread) and drops the connection.
void close_current() {
  std::unique_ptr<KeepAlive> keep;
  std::shared_ptr<Connection> conn;
  {
    std::lock_guard<std::mutex> lock(client().mu);
    keep = std::move(client().keep_alive);
    conn = std::move(client().conn);
  }
  keep.reset();  // joined outside the lock
}

// Returns a malloc'd, zero-terminated copy of t, or NULL.
char *copy_text(const wire::Text &t) {
  if (!t) return nullptr;
  char *s = static_cast<char *>(malloc(t->size() + 1));
  if (!s) return nullptr;
  memcpy(s, t->data(), t->size());
  s[t->size()] = '\0';
  return s;
}

wire::Text text_arg(const char *s) {
  return s ? wire::Text(s) : std::nullopt;
}

}  // namespace
}  // namespace vornal

using namespace vornal;

extern "C" int vornal_connect(const char *server) {
  close_current();
  if (!server) return VORNAL_ERR_NOHOST;
  std::unique_ptr<Connection> conn;
  CallerWait waiting;
  int st = Connection::open(server, timeout_ms(), conn);
  trace::event(std::string("connect ") + server + ": " + vornal_conn_error(st));
  if (st != VORNAL_STATE_CONNECTED) return st;
  std::lock_guard<std::mutex> lock(client().mu);
  client().conn = std::move(conn);
  return st;
}

extern "C" int vornal_get_connection_state(void) {
  std::shared_ptr<Connection> conn = current();
  if (!conn) return VORNAL_STATE_NOT_CONNECTED;
  // Picks up a notice or a closed socket while nothing else reads; never
  // waits for the keep-alive thread or a reply.
  conn->poll_incoming();
  return conn->state();
}

extern "C" void vornal_set_keep_alive(int seconds, int flags) {
  (void)flags;
  std::lock_guard<std::mutex> lock(client().mu);
  client().keep_alive.reset();  // joins; the thread never takes this lock
  if (seconds > 0 && client().conn)
    client().keep_alive = std::make_unique<KeepAlive>(client().conn, seconds);
}

extern "C" void vornal_set_connection_debugging(int on) {
  trace::enable(on != 0);
}

extern "C" vornal_message *vornal_send_message(int type, const char *a1,
                                               const char *a2, const char *a3,
                                               const char *a4, const char *a5) {
  std::shared_ptr<Connection> conn = current();
  if (!conn || type < 0 || type > 0xFFFF) return nullptr;
  CallerWait waiting;
  std::optional<wire::Reply> r = conn->exchange(
      static_cast<uint16_t>(type),
      {text_arg(a1), text_arg(a2), text_arg(a3), text_arg(a4), text_arg(a5)});
  if (!r) return nullptr;
  auto m = std::make_unique<vornal_message>();
  m->reply = std::move(r->reply);
  m->status = std::move(r->status);
  return m.release();
}

extern "C" char *vornal_get_message_reply(vornal_message *m) {
  return m ? copy_text(m->reply) : nullptr;
}

extern "C" char *vornal_get_message_response_status(vornal_message *m) {
  return m ? copy_text(m->status) : nullptr;
}

extern "C" void vornal_message_free(vornal_message *m) {
  std::unique_ptr<vornal_message> owned(m);
}

extern "C" void vornal_disconnect(void) {
  close_current();
}

extern "C" void vornal_set_wait_hook(vornal_wait_hook hook) {
  set_wait_hook(hook);
}
