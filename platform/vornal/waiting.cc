#include "waiting.h"

#include <atomic>

namespace vornal {
namespace {

std::atomic<vornal_wait_hook> g_hook{nullptr};
thread_local bool t_caller_waits = false;
thread_local bool t_in_hook = false;

}  // namespace

void set_wait_hook(vornal_wait_hook hook) {
  g_hook.store(hook);
}

void wait_slice_passed() {
  vornal_wait_hook hook = g_hook.load();
  if (!hook || !t_caller_waits || t_in_hook) return;
  t_in_hook = true;
  hook();  // may end the process; the flag matters only if it returns
  t_in_hook = false;
}

bool in_wait_hook() {
  return t_in_hook;
}

CallerWait::CallerWait() : outer_(!t_caller_waits) {
  t_caller_waits = true;
}

CallerWait::~CallerWait() {
  if (outer_) t_caller_waits = false;
}

}  // namespace vornal
