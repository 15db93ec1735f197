// Reading one parameter's value from the daemon.
#pragma once

// Returns the value of parameter name at path (the reply text, else the
// status text), or null when no reply came. The caller releases it with
// free (it is the library's heap text).
char *get_value(const char *path, const char *name);
