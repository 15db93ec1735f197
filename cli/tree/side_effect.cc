#include "tree/side_effect.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tree/get_value.h"
#include "tree/load.h"
#include "tree/node.h"
#include "tree/path.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"

const char side_effect_root[] = "/param/side-effect";

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
