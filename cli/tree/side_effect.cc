#include "tree/side_effect.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "commands/get_value.h"
#include "lang/parser.h"
#include "tree/load.h"
#include "tree/node.h"
#include "tree/path.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"

namespace {
const char side_effect_root[] = "/param/side-effect";
}  // namespace

void refresh_side_effect(const char *side_effect_path, const char *name) {
  if (!node_from_path(side_effect_path)) return;
  char *value = get_value(side_effect_path, name);
  // Without a handle there is nothing to refresh from and the daemon link
  // reports its own trouble; the refresh is skipped silently.
  if (!value) return;
  if (strcmp(value, "ERR No such file or directory") == 0) {
    free(value);
    return;
  }
  char *target_text = cli_strdup(value);
  replace_all(&target_text, ".", cli_opts.separator);
  cli_node *target = target_text ? node_from_path(target_text) : nullptr;
  if (!target)
    printf("Hmm. Side effect path %s doesn't seem to exist.\n", value);
  else
    load_subtree(target);
  free(value);
  cli_free(target_text);
}

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
  if (len > sizeof side_effect_root &&
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
