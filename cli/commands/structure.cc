// create, delete and rename: one message each, the daemon's answer printed,
// and on a terminal the local tree brought into line with the change.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <talloc.h>

// clang-format off
#include <readline/readline.h>
// clang-format on

#include "commands/handlers.h"
#include "commands/set.h"
#include "commands/side_effects.h"
#include "lang/parser.h"
#include "tree/load.h"
#include "tree/node.h"
#include "tree/path.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"
#include "vornal.h"

namespace {

// Sets the exit status when the shell runs a script.
void fail_status(int code) {
  if (!cli_opts.interactive) cli_state.status = code;
}

// The path of one structure command cut into the parent text and the name
// as typed, with the daemon's status. Every text is released by
// release_request.
struct request {
  char *parent;  // allocator text, null when the path has no separator
  char *name;    // allocator text
  char *status;  // plain heap text from the library
};

// Releases the texts of r.
void release_request(request *r) {
  cli_free(r->parent);
  cli_free(r->name);
  free(r->status);
  *r = request{};
}

// Splits pc's path into r. Returns 0, or 1 after printing why.
int split_request(const struct parsed_command *pc, request *r) {
  *r = request{};
  r->parent = pc->path ? cli_strdup(pc->path) : nullptr;
  if (r->parent && split_last_component(&r->parent, &r->name) == 0 && r->name)
    return 0;
  puts("Error allocating memory while splitting node from path.");
  fail_status(-18);
  release_request(r);
  return 1;
}

// The common start of the three handlers: split, send type with the new
// name (or null) and read the status into r. Returns 0 when a status came,
// 1 when the command has failed (reported where it had to be).
int exchange(const struct parsed_command *pc, int type, const char *new_name,
             request *r) {
  if (split_request(pc, r) != 0) return 1;
  vornal_message *msg =
      vornal_send_message(type, nullptr, r->parent, r->name, nullptr, new_name);
  if (!msg) {
    release_request(r);
    return 1;
  }
  r->status = vornal_get_message_response_status(msg);
  vornal_message_free(msg);
  if (r->status) return 0;
  puts("ERR No reply received.");
  fail_status(-12);
  release_request(r);
  return 1;
}

// Returns true when node is ancestor or ancestor's descendant.
bool inside(const cli_node *node, const cli_node *ancestor) {
  for (; node; node = node->parent)
    if (node == ancestor) return true;
  return false;
}

// Adds the created node below pc's path node with its description and
// subtree. Returns 0, or 1 after printing why.
int add_created(struct parsed_command *pc, const char *typed_name) {
  char *name = dequote_text(typed_name);
  cli_node *node =
      name && pc->path_node ? create_node(pc->path_node, name, 0) : nullptr;
  cli_free(name);
  if (!node) {
    puts(
        "Create succeeded but failed to add to cli's copy of the parameter "
        "tree.");
    return 1;
  }
  load_node_attributes(node);
  load_subtree(node);
  pc->created = node;
  check_side_effects(pc, 0);
  return 0;
}

// Handles an accepted create. Returns the handler's result.
int create_accepted(struct parsed_command *pc, const request *r) {
  if (cli_opts.interactive && add_created(pc, r->name) != 0) return 1;
  if (!pc->completing) puts("Create: OK");
  // A failed set has printed its statuses and undone the creation.
  if (pc->values && set_after_create(pc) != 0) return 0;
  if (!pc->completing) cli_state.modified = true;
  return 0;
}

// Removes the deleted node from the local tree. The current node moves to
// the nearest surviving ancestor when it stood inside. Returns 0, or 1
// when the node is not in the local tree.
int drop_deleted(struct parsed_command *pc, const request *r) {
  // An undone create drops the very node it added: a typed name with a
  // backslash before a separator need not read back as one path word.
  cli_node *node = pc->undoing && pc->created
                       ? pc->created
                       : node_from_absolute_path(r->parent, r->name);
  if (!node || !node->parent) {
    printf("\n\nArgh. Delete succeeded but node_from_path didn't.\n");
    return 1;
  }
  cli_node *parent = node->parent;
  if (inside(cli_state.cwd, node)) cli_state.cwd = parent;
  disconnect_child(parent, node);
  talloc_free(node);
  check_side_effects(pc, 0);
  return 0;
}

// Gives the renamed node its new name in place. Returns 0, or 1 when the
// node is not in the local tree.
int rename_local(const request *r, const char *new_name) {
  cli_node *node = node_from_absolute_path(r->parent, r->name);
  if (!node) {
    printf("\n\nArgh. Rename succeeded but node_from_path didn't.\n");
    return 1;
  }
  char *plain = dequote_text(new_name);
  // Without memory the old name stays: the tree still names a real node.
  if (plain) set_node_name(node, plain);
  cli_free(plain);
  return 0;
}

}  // namespace

int cmd_create(struct parsed_command *pc) {
  if (pc->create_done) return 0;
  request r;
  if (exchange(pc, VORNAL_MSG_CREATE, nullptr, &r) != 0) return 1;
  const char *status = r.status;
  if (strncmp(status, "ERR result=5", 12) == 0) {
    status = "ERR result=5 Can't add anything there";
    fail_status(-13);
  }
  int result = 0;
  if (strcmp(status, "OK") == 0) {
    result = create_accepted(pc, &r);
  } else if (strncmp(status, "ERR result=6 ", 13) == 0) {
    printf("%sThe node '%s' already exists.\n", pc->completing ? "\n" : "",
           r.name);
    rl_on_new_line();
    pc->output_shown = 1;
    fail_status(-11);
    result = 1;
  } else if (!pc->completing) {
    printf("Create: %s\n", status);
  }
  release_request(&r);
  return result;
}

int cmd_delete(struct parsed_command *pc) {
  request r;
  if (exchange(pc, VORNAL_MSG_DELETE, nullptr, &r) != 0) return 1;
  bool quiet = pc->completing || pc->undoing;
  bool ok = strcmp(r.status, "OK") == 0;
  if (!quiet && strcmp(r.status, "ERR result=5 Success") == 0) {
    puts("Delete: Invalid parameters.");
    fail_status(-10);
  } else if (!quiet) {
    printf("Delete: %s\n", r.status);
  }
  int result = ok ? 0 : 1;
  if (ok && cli_opts.interactive) result = drop_deleted(pc, &r);
  if (ok && result == 0 && !quiet) cli_state.modified = true;
  release_request(&r);
  return result;
}

int cmd_rename(struct parsed_command *pc) {
  request r;
  if (exchange(pc, VORNAL_MSG_RENAME, pc->new_name, &r) != 0) return 1;
  printf("Rename: %s.\n", r.status);
  int result = 0;
  if (strcmp(r.status, "OK") == 0) {
    cli_state.modified = true;
    if (cli_opts.interactive) {
      result = rename_local(&r, pc->new_name);
      check_side_effects(pc, 0);
    }
  }
  release_request(&r);
  return result;
}

void undo_create(struct parsed_command *pc) {
  if (!pc->created) return;
  pc->undoing = 1;
  cmd_delete(pc);
  pc->created = nullptr;
}
