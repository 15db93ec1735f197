#include "shell/greeting.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "shell/options.h"
#include "util/state.h"

namespace {
const char motd_path[] = "/etc/zarcli/motd";
const size_t motd_chunk = 4096;
}  // namespace

void show_motd(const char *path) {
  char *buf = (char *)malloc(motd_chunk);
  if (!buf) {
    printf("cli: Unable to allocate a buffer to cat %s.\n", path);
    return;
  }
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    printf("cli: Unable to open the motd file (%s).\n", path);
    free(buf);
    return;
  }
  ssize_t n;
  while ((n = read(fd, buf, motd_chunk)) > 0) fwrite(buf, 1, (size_t)n, stdout);
  free(buf);
  close(fd);
}

void show_greeting(void) {
  print_version();
  if (!cli_opts.server_is_static)
    printf("Attempting to connect to %s as %s.\n", cli_opts.server,
           cli_state.user);
  show_motd(motd_path);
  if (cli_state.password_from_env)
    puts(
        "\nWARNING: Using the CLI_PASSWORD environmental variable is "
        "insecure.");
}
