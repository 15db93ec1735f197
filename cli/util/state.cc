#include "util/state.h"

namespace {
char default_server[] = "/dev/vornd";

const cli_options default_opts = {
    .noop_interval = 1,
    .server_is_static = true,
    .password_is_static = true,
    .user_is_static = true,
    .interactive = true,
    .server = default_server,
    .separator = "/",
};
}  // namespace

cli_options cli_opts = default_opts;
cli_session_state cli_state = {};

void cli_reset_records(void) {
  cli_opts = default_opts;
  cli_state = {};
}
