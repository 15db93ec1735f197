#include "vornd/options.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace vornd {

const char *usage_text() {
  return "usage: vornd [options]\n"
         "  --socket PATH       Unix socket to listen on (default /dev/vornd)\n"
         "  --listen HOST:PORT  also listen on TCP\n"
         "  --model FILE        device model (JSON); default: the demo model\n"
         "  --synthetic N       serve a generated model of about N nodes\n"
         "  --store FILE        where committed values persist\n"
         "  --users FILE        user:hash lines for logins over TCP\n"
         "  --help              show this text\n";
}

std::optional<Options> parse_options(int argc, char **argv,
                                     std::string &error) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
      continue;
    }
    std::string *target = a == "--socket"   ? &o.socket
                          : a == "--listen" ? &o.listen
                          : a == "--model"  ? &o.model
                          : a == "--store"  ? &o.store
                          : a == "--users"  ? &o.users
                                            : nullptr;
    if (!target && a != "--synthetic") {
      error = "unknown option " + std::string(a);
      return std::nullopt;
    }
    if (i + 1 >= argc || argv[i + 1][0] == '\0') {
      error = std::string(a) + " needs a value";
      return std::nullopt;
    }
    std::string_view v = argv[++i];
    if (target) {
      *target = v;
      continue;
    }
    auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), o.synthetic);
    if (ec != std::errc() || p != v.data() + v.size() || o.synthetic < 1 ||
        o.synthetic > 10'000'000) {
      error = "--synthetic needs a node count from 1 to 10000000";
      return std::nullopt;
    }
  }
  if (!o.model.empty() && o.synthetic) {
    error = "--model and --synthetic exclude each other";
    return std::nullopt;
  }
  return o;
}

}  // namespace vornd
