#include "lang/grammar.h"

#include "lang/commands.h"
#include "util/alloc.h"

unsigned next_word_kinds(int cmd, unsigned kind) {
  if (kind == 0) return KIND_COMMAND;
  const cli_command *row = command_row(cmd);
  if (!row) return 0;
  if (kind == KIND_COMMAND || kind == KIND_OPTION) {
    if (row->path_arg > ARG_OPTIONAL) return KIND_OPTION | KIND_PATH;
    unsigned next = KIND_OPTION;
    if (row->path_arg == ARG_OPTIONAL) next |= KIND_PATH;
    if (row->name_arg != ARG_NONE)
      next |= KIND_NEW_NAME;
    else if (row->param_arg != ARG_NONE)
      next |= KIND_PARAMETER;
    return next;
  }
  if (kind == KIND_PATH) {
    if (row->name_arg != ARG_NONE) return KIND_NEW_NAME;
    return row->param_arg != ARG_NONE ? KIND_PARAMETER : 0;
  }
  if (kind == KIND_PARAMETER || kind == KIND_VALUE) return KIND_PARAMETER;
  return 0;
}

namespace {
// The shared rule of kind_before and required_kind_before: need is the
// lowest use of a name or path column that counts.
unsigned kind_rule(int cmd, unsigned next, int need) {
  const cli_command *row = command_row(cmd);
  if (!row) return 0;
  bool name = row->name_arg >= need;
  bool path = row->path_arg >= need;
  switch (next) {
    case 0:
      if (row->param_arg > ARG_OPTIONAL && row->value_arg == ARG_NONE)
        return KIND_PARAMETER;
      if (name) return KIND_NEW_NAME;
      return path ? KIND_PATH : 0;
    case KIND_NEW_NAME:
      return path ? KIND_PATH : 0;
    case KIND_PARAMETER:
      if (name) return KIND_NEW_NAME;
      return path ? KIND_PATH : 0;
    default:
      return 0;
  }
}
}  // namespace

unsigned kind_before(int cmd, unsigned next) {
  return kind_rule(cmd, next, ARG_OPTIONAL);
}

unsigned required_kind_before(int cmd, unsigned next) {
  return kind_rule(cmd, next, ARG_REQUIRED);
}

char *kinds_text(unsigned mask) {
  int total = 0;
  for (int bit = 0; bit < WORD_KIND_COUNT; bit++)
    if (mask & (1u << bit)) total++;
  if (total == 0) return nullptr;
  char *text = nullptr;
  int done = 0;
  for (int bit = 0; bit < WORD_KIND_COUNT; bit++) {
    if (!(mask & (1u << bit))) continue;
    if (done > 0 && cli_extend(&text, done + 1 < total ? ", " : " or ")) break;
    if (cli_extend(&text, word_kind_names[bit])) break;
    done++;
  }
  return text;
}

namespace {
const char *const use_prefixes[] = {"", "optional ", "", "new ", "existing "};

// Returns the usage-text name of a kind, or null.
const char *usage_name(unsigned kind) {
  switch (kind) {
    case KIND_PATH:
      return "path";
    case KIND_NEW_NAME:
      return "node name";
    case KIND_PARAMETER:
      return "parameter";
    case KIND_VALUE:
      return "value";
    default:
      return nullptr;
  }
}
}  // namespace

char *describe_argument(unsigned kind, int use) {
  const char *name = usage_name(kind);
  if (!name) return nullptr;
  const char *prefix = use >= 0 && use <= ARG_EXISTING ? use_prefixes[use] : "";
  char *text = cli_strdup(prefix);
  if (text && cli_extend(&text, name)) {
    cli_free(text);
    return nullptr;
  }
  return text;
}

char *command_usage(int cmd) {
  const cli_command *row = command_row(cmd);
  if (!row) return nullptr;
  const struct {
    unsigned kind;
    int use;
  } columns[] = {{KIND_PATH, row->path_arg},
                 {KIND_NEW_NAME, row->name_arg},
                 {KIND_PARAMETER, row->param_arg},
                 {KIND_VALUE, row->value_arg}};
  char *text = nullptr;
  for (const auto &col : columns) {
    if (col.use == ARG_NONE) continue;
    char *part = describe_argument(col.kind, col.use);
    int failed =
        !part || (text && cli_extend(&text, ", ")) || cli_extend(&text, part);
    cli_free(part);
    if (failed) {
      cli_free(text);
      return nullptr;
    }
  }
  if (text && cli_extend(&text, ".")) {
    cli_free(text);
    return nullptr;
  }
  return text;
}
