#include "shell/interrupt.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

// clang-format off
#include <readline/readline.h>
// clang-format on

#include "shell/teardown.h"
#include "util/state.h"
#include "vornal.h"

namespace {
volatile sig_atomic_t interrupt_flag = 0;
// Set once "Bye!" is printed: the logout that follows may wait for a daemon
// that does not answer, and the user has already been told we are going.
bool ending = false;

// Ends the process by SIGINT with its default action, first giving the
// terminal back the modes the line editor took from it (echo above all).
[[noreturn]] void die_by_sigint(void) {
  if (cli_state.readline_ready) rl_deprep_terminal();
  fflush(stdout);
  fflush(stderr);
  signal(SIGINT, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  kill(getpid(), SIGINT);
  _exit(128 + SIGINT);  // not reached: the default action ends us first
}
}  // namespace

void on_interrupt(int) {
  interrupt_flag = 1;
}

int install_interrupt_handler(void) {
  // Long waits for the daemon hand the interrupt back while they wait.
  vornal_set_wait_hook(act_on_pending_interrupt);
  struct sigaction sa = {};
  sa.sa_handler = on_interrupt;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  return sigaction(SIGINT, &sa, nullptr);
}

int interrupt_pending(void) {
  return interrupt_flag != 0;
}

void act_on_pending_interrupt(void) {
  if (ending) die_by_sigint();
  if (interrupt_flag) act_on_interrupt();
}

void act_on_interrupt(void) {
  interrupt_flag = 0;
  if (cli_state.modified && cli_state.typed_since_mark) {
    printf("\nThere are uncommited changes. Press ctl-c again exit anyway.\n");
    fflush(stdout);
    rl_on_new_line();
    cli_state.typed_since_mark = false;
    return;
  }
  printf("\nBye!\n");
  fflush(stdout);
  ending = true;
  end_session();
  die_by_sigint();
}

int wait_for_input(int fd) {
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  for (;;) {
    // SIGINT stays blocked between the flag test and ppoll, which unblocks
    // it atomically: a signal in that gap would otherwise be slept through.
    sigprocmask(SIG_BLOCK, &block, &old);
    int r;
    if (interrupt_flag) {
      r = 0;
    } else {
      struct pollfd p = {.fd = fd, .events = POLLIN, .revents = 0};
      int n = ppoll(&p, 1, nullptr, &old);
      r = n > 0 ? 1 : (n < 0 && errno == EINTR) ? (interrupt_flag ? 0 : 2) : -1;
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    // A signal that came with the input is delivered only now; it goes
    // first, so that a line that arrived with ctrl-c is not read.
    if (r == 1 && interrupt_flag) r = 0;
    if (r != 2) return r;
  }
}

bool terminal_hung_up(int fd) {
  struct pollfd p = {.fd = fd, .events = POLLIN, .revents = 0};
  int n = poll(&p, 1, 0);
  if (n < 0) return errno != EINTR;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
