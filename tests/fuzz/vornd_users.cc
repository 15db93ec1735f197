// Parses arbitrary bytes as a users file. A file is refused naming its bad
// line, or read; what was read must be written back as "user:hash" lines
// that read to the same users.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "vornd/auth.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  std::string error;
  std::optional<vornd::Users> users = vornd::parse_users(text, "u", error);
  if (!users) {
    check(error.rfind("u:", 0) == 0);
    return 0;
  }
  std::string back;
  for (const auto &[name, hash] : *users) {
    check(!name.empty() && name.find(':') == std::string::npos &&
          name.find('\n') == std::string::npos && name[0] != '#');
    back += name + ":" + hash + "\n";
  }
  std::optional<vornd::Users> again = vornd::parse_users(back, "again", error);
  check(again && *again == *users);
  return 0;
}
