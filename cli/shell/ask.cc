#include "shell/ask.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

#include "shell/interrupt.h"
#include "util/state.h"

namespace {
struct termios saved_settings;

// Returns one byte from standard input, or -1 when the terminal has gone:
// with VMIN 1 a live terminal never reads as end of file. Acts on
// interrupts with the saved settings in place.
int read_key(const struct termios *working) {
  for (;;) {
    int w = wait_for_input(0);
    if (w == 0) {
      tcsetattr(0, TCSADRAIN, &saved_settings);
      act_on_interrupt();  // returns only after a warning
      tcsetattr(0, TCSADRAIN, working);
      continue;
    }
    unsigned char c;
    ssize_t n = w < 0 ? -1 : read(0, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno == EINTR) continue;
    cli_state.terminal_lost = true;
    return -1;
  }
}
}  // namespace

int ask_yes_no(void) {
  fflush(stdout);
  if (cli_state.terminal_lost) return 1;
  if (tcgetattr(0, &saved_settings) != 0) return 1;
  struct termios working = saved_settings;
  working.c_lflag &= ~(ICANON | ECHO | ECHOE | ECHOK | ECHONL);
  working.c_cc[VMIN] = 1;
  working.c_cc[VTIME] = 0;
  if (tcsetattr(0, TCSADRAIN, &working) != 0) return 1;
  int key = read_key(&working);
  tcsetattr(0, TCSADRAIN, &saved_settings);
  return key < 0 ? 1 : tolower(key);
}
