// Tab completion of a whole line: parse it in completing mode, gather the
// candidates of every kind that may come next, and show the help text or
// the current value where they help. Nothing is cached between requests
// but the copy of the line that tells a repeated TAB from a fresh one.
#include "lang/completion.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lang/commands.h"
#include "lang/parser.h"
#include "tree/candidates.h"
#include "tree/get_value.h"
#include "tree/node.h"
#include "tree/strlist.h"
#include "util/alloc.h"
#include "util/state.h"

namespace {
// The kinds in the order their candidates are offered.
constexpr unsigned kGatherOrder[] = {KIND_COMMAND,  KIND_OPTION,
                                     KIND_PATH,     KIND_NODE,
                                     KIND_NEW_NAME, KIND_PARAMETER};

// Returns the path candidates for partial: absolute ones from the root when
// it begins with the separator, else ones relative to node.
char **path_candidates(int cmd, const char *partial, cli_node *node) {
  unsigned mask = command_op_mask(cmd);
  int mode = command_path_mode(cmd);
  const char *sep = cli_opts.separator;
  if (partial && partial[0] == sep[0])
    return child_candidates(cli_state.root, sep, partial + 1, mask, mode, 1);
  return child_candidates(node, nullptr, partial, mask, mode, 1);
}

// Gathers the candidates of every expected kind into *matches, in kind
// order. Returns the kinds that gave some.
unsigned gather(const parsed_command *pc, char ***matches) {
  unsigned found = 0;
  for (unsigned kind : kGatherOrder) {
    if (!(pc->expected & kind)) continue;
    char **list =
        completion_candidates(kind, pc->command, pc->partial, pc->path_node);
    if (!list) continue;
    found |= kind;
    if (!*matches) {
      *matches = list;  // the first list needs no copy: take it over
      continue;
    }
    strlist_append_copies(matches, list);
    strlist_free(&list);
  }
  return found;
}

// Returns the character the editor appends after a lone candidate: the
// separator on a create line, "=" after a parameter name of set, else a
// space.
char append_character(const parsed_command *pc, unsigned found, int count) {
  unsigned mask = command_op_mask(pc->command);
  if (mask == NODE_OP_CREATE) return cli_opts.separator[0];
  bool lone = pc->partial ? !strchr(pc->partial, '=') : count == 1;
  if (found == KIND_PARAMETER && mask == NODE_OP_SET && lone) return '=';
  return ' ';
}

// Prints the daemon's help text for what has been typed, the unfinished
// word taken as a parameter name where one may stand; a path without help
// prints nothing.
void show_help(parsed_command *pc) {
  if (pc->partial && (pc->expected & KIND_PARAMETER))
    add_value_pair(pc, pc->partial);
  char *text = help_text(pc);
  if (text && strncmp(text, "No help is available", 20) != 0) {
    printf("%s%s\n", pc->output_shown ? "" : "\n", text);
    pc->output_shown = 1;
  }
  cli_free(text);
}

// Returns 1 when word ends in a "=" and has no other.
int ends_in_only_equals(const char *word) {
  const char *eq = word ? strchr(word, '=') : nullptr;
  return eq && eq[1] == '\0';
}

// Prints the current value of a parameter word that ends in "=". On a
// repeated TAB with candidates the editor's list follows on the same line.
void show_current_value(parsed_command *pc, unsigned found, int count,
                        int tries) {
  if (pc->expected != KIND_PARAMETER && found != KIND_PARAMETER) return;
  if (!ends_in_only_equals(pc->partial)) return;
  pc->partial[strlen(pc->partial) - 1] = '\0';
  char *value = get_value(pc->path, pc->partial);
  if (value && strncmp(value, "ERR", 3) != 0) {
    if (!pc->output_shown) putchar('\n');
    pc->output_shown = 1;
    if (*value)
      printf("Current value is: %s.", value);
    else
      printf("No value currently set.");
    if (count == 0 || tries == 1) putchar('\n');
  }
  free(value);
}
}  // namespace

char **completion_candidates(unsigned kind, int cmd, const char *partial,
                             cli_node *node) {
  if (!node) node = cli_state.cwd;
  switch (kind) {
    case KIND_COMMAND:
      return command_words(partial);
    case KIND_PATH:
      return path_candidates(cmd, partial, node);
    case KIND_PARAMETER:
      return parameter_candidates(cmd, partial, node);
    default:  // options, nodes and new names have no candidates
      return nullptr;
  }
}

int complete_line(const char *line, int tries, completion_result *out) {
  *out = {nullptr, ' ', 0};
  parsed_command *pc = parse_command_line(line, 1);
  if (!pc) return 1;
  unsigned found = gather(pc, &out->matches);
  int count = strlist_count(out->matches);
  out->append = append_character(pc, found, count);
  if (count == 0 && pc->command != -1) show_help(pc);
  show_current_value(pc, found, count, tries);
  fflush(stdout);
  out->output_shown = pc->output_shown;
  // A node made to offer a create line's parameters lives only this long.
  undo_create(pc);
  free_parsed_command(pc);
  return 0;
}

int count_completion_request(const char *line) {
  bool same = cli_state.completion_line
                  ? strcmp(cli_state.completion_line, line) == 0
                  : line[0] == '\0';
  if (same && !cli_state.typed_since_mark) {
    cli_state.completion_tries++;
  } else {
    release_completion_line();
    if (line[0]) cli_state.completion_line = strdup(line);
    cli_state.completion_tries = 1;
  }
  cli_state.typed_since_mark = false;
  return cli_state.completion_tries;
}

void release_completion_line(void) {
  free(cli_state.completion_line);
  cli_state.completion_line = nullptr;
}
