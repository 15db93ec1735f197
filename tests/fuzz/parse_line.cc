// Parses arbitrary lines with both parsers and checks what a handler would
// read. Byte 0 picks the shell (bit 0: interactive), completion (bit 1) and
// the current node of a small fixed tree (bits 2-4); the rest is the line.
// The parsed command is released after each run, so the corpus replay under
// LeakSanitizer shows any block that escapes it. Create lines really create
// (the stand-in accepts what vornd would), and a refused one must take back
// the node it added to the local tree. A create the daemon accepted but the
// shell could not place locally is reported as such and stays.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <talloc.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "lang/commands.h"
#include "lang/parser.h"
#include "support/fake_vornal.h"
#include "tree/node.h"
#include "tree/path.h"
#include "tree/strlist.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"
#include "vornd/tree.h"

namespace {

[[noreturn]] void broken(const char *what) {
  fprintf(stderr, "bad parsed command: %s\n", what);
  abort();
}

// Builds the tree and returns its nodes in creation order in nodes[0..n).
int build(cli_node **nodes) {
  int n = 0;
  cli_node *root = nodes[n++] = create_node(nullptr, nullptr, 0);
  cli_node *net = nodes[n++] = create_node(root, "net", 0x09);
  cli_node *eth0 = nodes[n++] = create_node(net, "eth0", 0x4b);
  nodes[n++] = create_node(eth0, "mtu", 0x34);
  cli_node *mode = nodes[n++] = create_node(eth0, "mode", 0x30);
  strlist_append_talloc(mode, &mode->choices, "auto");
  strlist_append_talloc(mode, &mode->choices, "manual");
  nodes[n++] = create_node(root, "netmask", 0x30);
  nodes[n++] = create_node(root, "x/y", 0x10);
  cli_node *hidden = nodes[n++] = create_node(root, "My node", 0x08);
  hidden->hidden = 1;
  return n;
}

// Returns 1 when node is one of nodes[0..n).
int in_tree(const cli_node *node, cli_node *const *nodes, int n) {
  for (int i = 0; i < n; i++)
    if (nodes[i] == node) return 1;
  return 0;
}

size_t accepted_creates = 0;

// Answers a create as vornd would, which never accepts one under a parent
// it lacks, of a name already there, or of a name it cannot take (".",
// "..", a line end, bytes that are not UTF-8); nullopt accepts it (and
// counts it).
std::optional<fake_vornal::reply> answer_create(const fake_vornal::request &r) {
  if (r.type != VORNAL_MSG_CREATE) return std::nullopt;
  // An empty parent text is the root, as the daemon reads it.
  std::string where = r.args[1] ? *r.args[1] : "";
  cli_node *parent = node_from_path(where.empty() ? "/" : where.c_str());
  if (!parent) return fake_vornal::status_only("ERR result=5 No such node");
  const char *name = r.args[2] ? r.args[2]->c_str() : "";
  char *plain = dequote_text(name);
  std::string_view text = plain ? plain : "";
  bool bad =
      *name && (text == "." || text == ".." || text.find('\n') != text.npos ||
                !vornd::valid_utf8(text));
  cli_free(plain);
  if (bad) return fake_vornal::status_only("ERR result=22 Invalid argument");
  if (!*name || find_child(parent, name))
    return fake_vornal::status_only("ERR result=6 File exists");
  accepted_creates++;
  return std::nullopt;
}

// Returns the number of nodes in the tree below and with node.
int count_nodes(const cli_node *node) {
  int n = 1;
  for (const cli_node *c = node->first_child; c; c = c->next)
    n += count_nodes(c);
  return n;
}

// Checks the fields that every parse must leave sound.
void check(const parsed_command *pc, cli_node *const *nodes, int n) {
  if (strcmp(talloc_get_name(pc), "struct parsed_command") != 0)
    broken("type name");
  if (pc->command < -1 || pc->command >= CLI_COMMAND_COUNT)
    broken("command number");
  if (pc->word_count < 0) broken("word count");
  for (const char *t : {pc->partial, pc->path, pc->new_name})
    if (t && talloc_parent(t) != pc) broken("text outside the command");
  for (auto *p = pc->values; p; p = p->next) {
    if (!p->name || talloc_parent(p->name) != pc) broken("pair name");
    if (p->value && talloc_parent(p->value) != pc) broken("pair value");
    if (p->request || p->status_text) broken("pair request");
  }
  if (pc->created && pc->target != pc->created) broken("created node");
  if (!cli_opts.interactive) {
    if (pc->target || pc->path_node) broken("batch parse resolved nodes");
    return;
  }
  if (!in_tree(pc->target, nodes, n) && pc->target != pc->created)
    broken("target outside the tree");
  if (pc->path_node && pc->target != pc->path_node) broken("target");
  if (pc->path && pc->path[0] != '/') broken("relative interactive path");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
  (void)quiet;
  if (size == 0) return 0;
  cli_reset_records();
  cli_opts.interactive = data[0] & 1;
  cli_node *nodes[16];
  int n = build(nodes);
  cli_state.root = nodes[0];
  cli_state.cwd = nodes[(data[0] >> 2) % n];
  std::string line(reinterpret_cast<const char *>(data) + 1, size - 1);
  fake_vornal::reset();
  fake_vornal::set_default(fake_vornal::status_only("OK"));
  fake_vornal::respond_with(answer_create);
  accepted_creates = 0;
  parsed_command *pc = parse_command_line(line.c_str(), data[0] & 2 ? 1 : 0);
  if (pc) check(pc, nodes, n);
  bool kept = pc && pc->created;
  if (count_nodes(cli_state.root) != n + kept)
    broken("creation left in the local tree");
  if (fake_vornal::request_texts(VORNAL_MSG_DELETE).size() + kept >
      accepted_creates)
    broken("more deletes than creates");
  free_parsed_command(pc);
  free_tree();
  return 0;
}
