#include "link/password.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

#include "shell/interrupt.h"
#include "util/alloc.h"
#include "util/state.h"

namespace {

const size_t max_password = 512;

// Reads one line into buf (at most max_password bytes, newline dropped).
// On an interrupt the echo comes back before the session may end.
// Returns the number of bytes stored.
size_t read_line(int fd, char *buf, const struct termios *normal,
                 const struct termios *silent) {
  size_t len = 0;
  while (len < max_password) {
    int w = wait_for_input(fd);
    if (w == 0) {
      tcsetattr(fd, TCSANOW, normal);
      act_on_interrupt();  // returns only after a warning
      tcsetattr(fd, TCSANOW, silent);
      continue;
    }
    char c;
    ssize_t n = w < 0 ? -1 : read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // ctrl-D at the start of a line also reads as end of file, from a
      // terminal that is still there.
      if (n < 0 || terminal_hung_up(fd)) cli_state.terminal_lost = true;
      break;
    }
    if (c == '\n') break;
    buf[len++] = c;
  }
  return len;
}

// Closes fd unless it is standard input.
void close_unless_stdin(int fd) {
  if (fd != 0) close(fd);
}

}  // namespace

char *read_password(void) {
  char *buf = (char *)__cli_malloc(max_password + 1);
  if (!buf) return nullptr;
  int fd = open("/dev/tty", O_RDONLY | O_CLOEXEC);
  if (fd < 0) fd = 0;
  fputs("Password:", stderr);
  fflush(stderr);
  struct termios normal;
  if (tcgetattr(fd, &normal) != 0) {
    close_unless_stdin(fd);
    cli_free(buf);
    return nullptr;
  }
  struct termios silent = normal;
  silent.c_lflag &= ~ECHO;
  if (tcsetattr(fd, TCSAFLUSH, &silent) != 0) {
    close_unless_stdin(fd);
    cli_free(buf);
    return nullptr;
  }
  normal.c_lflag |= ECHO;
  buf[read_line(fd, buf, &normal, &silent)] = '\0';
  fputs("\n", stderr);
  tcsetattr(fd, TCSANOW, &normal);
  close_unless_stdin(fd);
  return buf;
}
