// Helpers shared by the parser tests: a parsed line as a plain value, and
// a small tree built with the tree's own node operations.
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

// Returns the pairs of pc as "name=value" ("name" alone for a null value).
inline std::vector<std::string> pairs_of(const parsed_command *pc) {
  std::vector<std::string> out;
  for (auto *p = pc->values; p; p = p->next)
    out.push_back(std::string(p->name) +
                  (p->value ? "=" + std::string(p->value) : ""));
  return out;
}

// Returns a nullable text as a string, "(null)" for null.
inline std::string text(const char *t) {
  return t ? t : "(null)";
}

// Returns the entries of a string list and frees it.
inline std::vector<std::string> take_list(char **list) {
  std::vector<std::string> out;
  for (int i = 0; list && list[i]; i++) out.push_back(list[i]);
  strlist_free(&list);
  return out;
}

// Result of parsing one line: whether it was accepted, what it printed.
struct parse_result {
  parsed_command *pc = nullptr;
  std::string out;
  ~parse_result() { free_parsed_command(pc); }
};

// Parses line with stdout captured.
inline void parse(parse_result &r, const char *line, int completing = 0) {
  testing::internal::CaptureStdout();
  r.pc = parse_command_line(line, completing);
  r.out = testing::internal::GetCapturedStdout();
}

}  // namespace lang_test
