// The daemon's command line.
#pragma once

#include <optional>
#include <string>

namespace vornd {

// What one peer may hold of the daemon (docs/vornd.md).
struct Limits {
  long max_connections = 64;
  // Connections without a login that one peer (a local uid, a TCP host)
  // may hold; 0 means half of max_connections.
  long max_per_peer = 0;
  long login_timeout_s = 30;  // from connecting (or logging out) to a login
};

struct Options {
  std::string socket = "/dev/vornd";
  std::string listen;               // HOST:PORT, empty = no TCP
  std::string tls_cert, tls_key;    // PEM files for TLS on the TCP listener
  bool plain_tcp_loopback = false;  // TCP without TLS, loopback only
  std::string make_cert;            // a folder to write a key into, and exit
  std::string model;
  long synthetic = 0;
  std::string store;
  std::string users;
  bool reset_bad_store = false;
  Limits limits;
  bool help = false;
};

// Returns the options, or nullopt with error set to a one-line reason.
std::optional<Options> parse_options(int argc, char **argv, std::string &error);

// Returns the usage text.
const char *usage_text();

}  // namespace vornd
