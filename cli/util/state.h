// The two process-wide session records: start-up settings and run-time state.
// Plain records so that every subsystem reads and sets the same named fields.
#pragma once

struct cli_node;

// Built-in defaults live in state.cc; the environment and the options
// overwrite them at start-up.
struct cli_options {
  int noop_interval;        // keep-alive period in seconds, 0 for none
  bool server_is_static;    // server is the built-in text, not owned
  bool password_is_static;  // cli_state.password is not owned
  bool user_is_static;      // cli_state.user is not owned
  bool interactive;         // terminal with the line editor
  char *server;             // handed unchanged to vornal_connect
  const char *separator;    // path component separator, "/"
};

// One queued command line; the text is a plain heap copy released with free.
struct cli_queue_entry {
  char *text;
  cli_queue_entry *next;
};

struct cli_session_state {
  char *input_file;  // -f argument, allocator text
  int status;        // the program's exit status
  bool exit_requested;
  bool typed_since_mark;
  bool discard_changes;
  bool modified;
  bool quiet;
  bool force_login;
  bool password_from_env;
  bool autocommit;
  char *password;
  char *user;
  cli_queue_entry *command_queue;
  int connection_lost;
  bool terminal_lost;  // the terminal hung up or failed: end, ask nothing
  int use_queue;
  int readline_ready;
  cli_node *root;
  cli_node *cwd;
  // Tab completion.
  char *completion_line;  // strdup copy, released with free
  int completion_tries;
  int completion_count;
  int completion_next;
  char **completion_matches;  // string list
  // Change journal.
  char *journal_branch;  // allocator text or null for the root
  char **journal;        // string list of journaled lines
};

extern cli_options cli_opts;
extern cli_session_state cli_state;

// Restores both records to their built-in defaults without releasing
// anything; tests use it between cases.
void cli_reset_records(void);
