// vornd: the configuration daemon. Loads the model and the store, then
// serves clients until SIGTERM or SIGINT.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "vornd/auth.h"
#include "vornd/log.h"
#include "vornd/options.h"
#include "vornd/server.h"
#include "vornd/synthetic.h"
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
  if (std::string err = core.load(); !err.empty()) {
    log_event("%s", err.c_str());
    return 1;
  }
  log_event("model with %zu nodes ready", Tree::count(core.running().root()));
  Server server(core, users ? &*users : nullptr);
  std::string err = server.listen_unix(o.socket);
  if (err.empty() && !o.listen.empty()) err = server.listen_tcp(o.listen);
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
  return serve(*o);
}
