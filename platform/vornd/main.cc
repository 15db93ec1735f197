// vornd: the configuration daemon. Loads the model and the store, then
// serves clients until SIGTERM or SIGINT.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "vornd/auth.h"
#include "vornd/log.h"
#include "vornd/options.h"
#include "vornd/server.h"
#include "vornd/store.h"
#include "vornd/synthetic.h"
#include "vornd/tls.h"
#include "vornd/tree.h"

namespace vornd {
extern const char kDemoModel[];
}

namespace {

using namespace vornd;

// Returns the model the options ask for, or nullptr after logging why not.
std::unique_ptr<Model> pick_model(const Options &o) {
  std::string text, origin, error;
  if (!o.model.empty()) {
    std::ifstream in(o.model);
    if (!in) {
      log_event("%s: cannot be read", o.model.c_str());
      return nullptr;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    origin = o.model;
  } else if (o.synthetic) {
    text = synthetic_model_text(o.synthetic);
    origin = "synthetic model";
  } else {
    text = kDemoModel;
    origin = "demo model";
  }
  auto m = load_model(text, origin, error);
  if (!m) {
    log_event("%s", error.c_str());
    return nullptr;
  }
  return std::move(*m);
}

// Loads the store over the model's defaults. A store that cannot be used
// stops the start unless the options say to set it aside. Returns false
// after logging why the daemon cannot start.
bool load_store_of(Core &core, const Options &o) {
  if (o.store.empty()) return true;
  std::string tmp = stale_temp_of(o.store);
  if (::unlink(tmp.c_str()) == 0)
    log_event("removed %s, left by a commit that did not finish", tmp.c_str());
  std::string err = core.load();
  if (err.empty()) return true;
  if (!o.reset_bad_store) {
    log_event("cannot start: %s", err.c_str());
    log_event(
        "to recover, restore %s from a backup, or start once with "
        "--reset-bad-store to keep it aside as %s.bad-<time> and begin "
        "from the model's defaults",
        o.store.c_str(), o.store.c_str());
    return false;
  }
  std::string aside = set_aside(o.store);
  if (aside.empty()) {
    log_event("cannot start: %s; it cannot be set aside either: %s",
              err.c_str(), strerror(errno));
    return false;
  }
  log_event("%s; kept it as %s and started from the model's defaults",
            err.c_str(), aside.c_str());
  return true;
}

int serve(const Options &o) {
  std::unique_ptr<Model> model = pick_model(o);
  if (!model) return 1;
  std::optional<Users> users;
  if (!o.users.empty()) {
    std::string error;
    users = load_users(o.users, error);
    if (!users) {
      log_event("%s", error.c_str());
      return 1;
    }
  }
  Core core(*model, o.store);
  if (!load_store_of(core, o)) return 1;
  log_event("model with %zu nodes ready", Tree::count(core.running().root()));
  Server server(core, users ? &*users : nullptr, o.limits);
  // TCP first: whoever sees the socket answer may connect over TCP too.
  std::string err;
  if (!o.tls_cert.empty()) err = server.use_tls(o.tls_cert, o.tls_key);
  if (err.empty() && !o.listen.empty())
    err = server.listen_tcp(o.listen, o.plain_tcp_loopback);
  if (err.empty()) err = server.listen_unix(o.socket);
  if (!err.empty()) {
    log_event("cannot start: %s", err.c_str());
    return 1;
  }
  return server.run();
}

}  // namespace

int main(int argc, char **argv) {
  std::string error;
  std::optional<Options> o = parse_options(argc, argv, error);
  if (!o) {
    fprintf(stderr, "vornd: %s\n%s", error.c_str(), usage_text());
    return 2;
  }
  if (o->help) {
    fputs(usage_text(), stdout);
    return 0;
  }
  if (!o->make_cert.empty()) return make_cert(o->make_cert);
  return serve(*o);
}
