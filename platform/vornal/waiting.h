// The caller's wait hook: how a program learns, while the library waits for
// the daemon on its thread, that it may act on a signal it has recorded.
// Only the thread that called into the library runs the hook, never the
// keep-alive thread, and a request made from the hook is written without
// waiting for its reply.
#pragma once

#include "vornal.h"

namespace vornal {

// Installs hook (null removes it).
void set_wait_hook(vornal_wait_hook hook);

// Runs the hook when the calling thread is inside a caller's wait and not
// already in the hook.
void wait_slice_passed();

// Returns true while the calling thread runs the hook.
bool in_wait_hook();

// Marks the calling thread as a caller's thread for the guard's lifetime.
class CallerWait {
 public:
  CallerWait();
  ~CallerWait();
  CallerWait(const CallerWait &) = delete;
  CallerWait &operator=(const CallerWait &) = delete;

 private:
  bool outer_;
};

// The longest a caller's wait sleeps before the hook runs again: a signal
// that lands just before a wait starts is noticed within this time.
constexpr int kWaitSliceMs = 100;

}  // namespace vornal
