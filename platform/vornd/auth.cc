#include "vornd/auth.h"

#include <crypt.h>
#include <pwd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace vornd {

std::optional<Users> parse_users(std::string_view text,
                                 const std::string &origin,
                                 std::string &error) {
  Users users;
  for (size_t n = 1; !text.empty(); ++n) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line[0] == '#') continue;
    size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) {
      error = origin + ":" + std::to_string(n) + ": expected user:hash";
      return std::nullopt;
    }
    // Extra shadow-style fields after the hash are ignored.
    size_t more = line.find(':', colon + 1);
    users[std::string(line.substr(0, colon))] =
        line.substr(colon + 1, more - colon - 1);
  }
  return users;
}

std::optional<Users> load_users(const std::string &path, std::string &error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot be read";
    return std::nullopt;
  }
  std::string text((std::istreambuf_iterator<char>(in)),
                   std::istreambuf_iterator<char>());
  return parse_users(text, path, error);
}

bool same_secret(const std::string &a, const std::string &b) {
  size_t n = std::max(a.size(), b.size());
  unsigned diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = i < a.size() ? a[i] : 0;
    unsigned char y = i < b.size() ? b[i] : 0;
    diff |= x ^ y;
  }
  return diff == 0;
}

namespace {

bool local_login(uid_t uid, const std::string &user) {
  if (uid == 0) return !user.empty();
  struct passwd pw, *found = nullptr;
  std::vector<char> buf(16384);
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found)
    return false;
  return user == found->pw_name;
}

bool password_login(const std::string &user, const std::string &password,
                    const Users &users) {
  auto it = users.find(user);
  // An unknown user still costs one hash, so timing tells nothing.
  const std::string &hash =
      it != users.end() ? it->second : std::string("$6$vornd$unknown");
  auto data = std::make_unique<crypt_data>();
  const char *got = crypt_r(password.c_str(), hash.c_str(), data.get());
  if (!got || got[0] == '*') return false;
  return it != users.end() && same_secret(got, hash);
}

}  // namespace

bool authenticate(const Peer &peer, const std::string &user,
                  const std::string &password, const Users *users) {
  if (peer.local) return local_login(peer.uid, user);
  if (!users || user.empty()) return false;
  return password_login(user, password, *users);
}

}  // namespace vornd
