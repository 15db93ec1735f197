#include "vornd/options.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace vornd {

namespace {

struct Number {
  const char *name;
  long Options::*field = nullptr;
  long Limits::*limit = nullptr;
  long min, max;
};

const Number kNumbers[] = {
    {"--synthetic", &Options::synthetic, nullptr, 1, 10'000'000},
    {"--max-connections", nullptr, &Limits::max_connections, 1, 100'000},
    {"--max-per-peer", nullptr, &Limits::max_per_peer, 1, 100'000},
    {"--login-timeout", nullptr, &Limits::login_timeout_s, 1, 3600},
};

// Returns the numeric option called name, or nullptr.
const Number *number_option(std::string_view name) {
  for (const Number &n : kNumbers)
    if (name == n.name) return &n;
  return nullptr;
}

// Stores v into the option; returns false when it is not a number in range.
bool set_number(Options &o, const Number &n, std::string_view v) {
  long x = 0;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), x);
  if (ec != std::errc() || p != v.data() + v.size() || x < n.min || x > n.max)
    return false;
  (n.field ? o.*n.field : o.limits.*n.limit) = x;
  return true;
}

// Returns why the TCP options do not fit together, or "". Passwords and
// values must not cross a network in clear: a listener has TLS unless it
// is explicitly a plain one on loopback.
std::string check_tls(const Options &o) {
  bool tls = !o.tls_cert.empty() || !o.tls_key.empty();
  if (tls && (o.tls_cert.empty() || o.tls_key.empty()))
    return "--tls-cert and --tls-key go together";
  if (tls && o.plain_tcp_loopback)
    return "--plain-tcp-loopback and --tls-cert exclude each other";
  if ((tls || o.plain_tcp_loopback) && o.listen.empty())
    return "--tls-cert and --plain-tcp-loopback need --listen";
  if (!o.listen.empty() && !tls && !o.plain_tcp_loopback)
    return "--listen needs --tls-cert FILE and --tls-key FILE (or, on "
           "127.0.0.1 or ::1 only, --plain-tcp-loopback)";
  return "";
}

}  // namespace

const char *usage_text() {
  return "usage: vornd [options]\n"
         "  --socket PATH          Unix socket to listen on (default "
         "/dev/vornd)\n"
         "  --listen HOST:PORT     also listen on TCP, with TLS\n"
         "  --tls-cert FILE        the certificate (PEM) TLS shows\n"
         "  --tls-key FILE         its private key (PEM)\n"
         "  --plain-tcp-loopback   serve TCP without TLS, on 127.0.0.1 or "
         "::1\n"
         "                         only (for tests)\n"
         "  --make-cert DIR        write DIR/vornd.key and a self-signed\n"
         "                         DIR/vornd.crt for this host, print its\n"
         "                         SHA-256 fingerprint and exit\n"
         "  --model FILE           device model (JSON); default: the demo "
         "model\n"
         "  --synthetic N          serve a generated model of about N nodes\n"
         "  --store FILE           where committed values persist\n"
         "  --reset-bad-store      when the store cannot be read, move it "
         "aside\n"
         "                         to FILE.bad and start from the defaults\n"
         "  --users FILE           user:hash lines for logins over TCP\n"
         "  --max-connections N    connections held at once (default 64)\n"
         "  --max-per-peer N       connections without a login one user or\n"
         "                         host may hold (default: half the above)\n"
         "  --login-timeout S      seconds a connection may stay without a\n"
         "                         login (default 30)\n"
         "  --help                 show this text\n";
}

std::optional<Options> parse_options(int argc, char **argv,
                                     std::string &error) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    bool *flag = a == "--help" || a == "-h"    ? &o.help
                 : a == "--reset-bad-store"    ? &o.reset_bad_store
                 : a == "--plain-tcp-loopback" ? &o.plain_tcp_loopback
                                               : nullptr;
    if (flag) {
      *flag = true;
      continue;
    }
    std::string *target = a == "--socket"      ? &o.socket
                          : a == "--listen"    ? &o.listen
                          : a == "--model"     ? &o.model
                          : a == "--store"     ? &o.store
                          : a == "--users"     ? &o.users
                          : a == "--tls-cert"  ? &o.tls_cert
                          : a == "--tls-key"   ? &o.tls_key
                          : a == "--make-cert" ? &o.make_cert
                                               : nullptr;
    const Number *num = target ? nullptr : number_option(a);
    if (!target && !num) {
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
    } else if (!set_number(o, *num, v)) {
      error = std::string(a) + " needs a number from " +
              std::to_string(num->min) + " to " + std::to_string(num->max);
      return std::nullopt;
    }
  }
  error = check_tls(o);
  if (!o.model.empty() && o.synthetic)
    error = "--model and --synthetic exclude each other";
  if (!error.empty()) return std::nullopt;
  return o;
}

}  // namespace vornd
