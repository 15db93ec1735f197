// Helpers shared by the parser tests: one parse summed up in one line, so
// that cases read as tables of input line and expected outcome.
#pragma once

#include <gtest/gtest.h>
#include <talloc.h>

#include <string>
#include <vector>

#include "lang/commands.h"
#include "lang/parser.h"
#include "shell/state.h"
#include "tree/node.h"
#include "tree/strlist.h"

namespace lang_test {

// Returns "/" for the root, the name otherwise.
inline std::string node_name(const cli_node *n) {
  return n->name ? n->name : "/";
}

// Parses line and returns what a handler would see: the command's name,
// then each field that is set (path, node, target, new, values as
// name=value|name, partial, expected), the status when not 0, and the
// printed text after "|| ". A refused line gives "refused".
inline std::string summary(const char *line, int completing = 0) {
  testing::internal::CaptureStdout();
  parsed_command *pc = parse_command_line(line, completing);
  std::string out = testing::internal::GetCapturedStdout();
  std::string s = !pc               ? "refused"
                  : pc->command < 0 ? "-1"
                                    : command_name(pc->command);
  if (pc && pc->path) s += " path=" + std::string(pc->path);
  if (pc && pc->path_node) s += " node=" + node_name(pc->path_node);
  if (pc && pc->target) s += " target=" + node_name(pc->target);
  if (pc && pc->new_name) s += " new=" + std::string(pc->new_name);
  for (auto *p = pc ? pc->values : nullptr; p; p = p->next)
    s += std::string(p == pc->values ? " values=" : "|") + p->name +
         (p->value ? "=" + std::string(p->value) : "");
  if (pc && pc->partial) s += " partial=" + std::string(pc->partial);
  if (pc && pc->expected) s += " expected=" + std::to_string(pc->expected);
  if (cli_state.status) s += " status=" + std::to_string(cli_state.status);
  if (!out.empty()) s += " || " + out;
  free_parsed_command(pc);
  return s;
}

// Returns the entries of a string list and frees it.
inline std::vector<std::string> take_list(char **list) {
  std::vector<std::string> out;
  for (int i = 0; list && list[i]; i++) out.push_back(list[i]);
  strlist_free(&list);
  return out;
}

struct line_case {
  const char *line;
  const char *want;
};

}  // namespace lang_test
