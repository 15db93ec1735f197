// Who may log in: peer credentials on the Unix socket, crypt(3) hashes from
// the users file over TCP.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vornd {

struct Peer {
  bool local = false;  // Unix socket: uid is the kernel's word
  uid_t uid = 0;
  std::string address;  // for the log
  std::string
      origin;  // who, whatever the connection: "local uid N", "tcp HOST"
};

// user -> crypt hash, from "user:hash" lines.
using Users = std::map<std::string, std::string>;

// Returns the users of "user:hash" lines, or nullopt with error set to
// "<origin>:<line>: ..." for the first bad line.
std::optional<Users> parse_users(std::string_view text,
                                 const std::string &origin, std::string &error);

// Returns the users of the file at path, or nullopt with error set.
std::optional<Users> load_users(const std::string &path, std::string &error);

// Returns true when peer may log in as user with password. users is null
// when no users file was given.
bool authenticate(const Peer &peer, const std::string &user,
                  const std::string &password, const Users *users);

// Returns true when a and b are equal, in time independent of where they
// differ.
bool same_secret(const std::string &a, const std::string &b);

}  // namespace vornd
