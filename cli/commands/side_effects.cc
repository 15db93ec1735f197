#include "commands/side_effects.h"

#include <stdio.h>
#include <string.h>

#include "lang/parser.h"
#include "tree/side_effect.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"

void check_side_effects(struct parsed_command *command, int per_value) {
  char *entry = cli_strdup(side_effect_root);
  if (!entry || (command->path && cli_extend(&entry, command->path) != 0)) {
    cli_free(entry);
    return;
  }
  if (per_value) {
    for (parsed_command_value_pair *p = command->values; p; p = p->next)
      refresh_side_effect(entry, p->name);
    cli_free(entry);
    return;
  }
  // A path typed from the root names an existing node with a final
  // separator; the entry to read is still that of the node's parent.
  size_t len = strlen(entry);
  if (len > strlen(side_effect_root) + 1 &&
      entry[len - 1] == cli_opts.separator[0] && entry[len - 2] != '\\')
    entry[len - 1] = '\0';
  char *last = nullptr;
  if (split_last_component(&entry, &last) != 0) {
    puts(
        "check_side_effects: Error allocating memory while splitting node "
        "from path.");
  } else {
    refresh_side_effect(entry, "");
  }
  cli_free(last);
  cli_free(entry);
}
