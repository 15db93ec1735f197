// SIGINT handling. The handler only records the signal; the places that
// wait for the user notice it and act outside the handler, so the teardown
// (which talks to the daemon) never runs in signal context.
#pragma once

// The SIGINT handler: records the interrupt and returns.
void on_interrupt(int sig);

// Installs on_interrupt for SIGINT with SA_RESTART, and the library's wait
// hook that acts on it. Returns 0, -1 on failure.
int install_interrupt_handler(void);

// Returns non-zero when an interrupt is waiting to be acted on.
int interrupt_pending(void);

// Acts on a recorded interrupt: with uncommitted changes and keys typed
// since the last mark it only warns and returns; otherwise it prints
// "\nBye!", ends the session and ends the process by SIGINT.
void act_on_interrupt(void);

// Acts on an interrupt when one is recorded; installed as the library's
// wait hook, so that ctrl-c is heard while a command waits for the daemon.
void act_on_pending_interrupt(void);

// Waits until fd is readable (or hung up) or an interrupt is pending, with
// no window in which a signal can be missed. Returns 1 readable, 0 an
// interrupt is pending, -1 on error.
int wait_for_input(int fd);

// Returns true when the terminal on fd has hung up or cannot be polled.
bool terminal_hung_up(int fd);
