// Shared by the shell's unit tests: fresh records, stand-in and tree, and
// helpers that capture what is printed and take over returned texts.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <talloc.h>

#include "lang/parser.h"
#include "support/fake_vornal.h"
#include "tree/node.h"
#include "tree/strlist.h"
#include "util/alloc.h"
#include "util/state.h"

using strings = std::vector<std::string>;
using fake_vornal::answer;
using fake_vornal::no_handle;
using fake_vornal::status_only;

class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cli_reset_records();
    fake_vornal::reset();
    cli_state.root = cli_state.cwd = create_node(nullptr, nullptr, 0);
  }
  void TearDown() override {
    free_tree();
    strlist_free(&cli_state.journal);
    cli_free(cli_state.journal_branch);
    cli_reset_records();
    EXPECT_EQ(fake_vornal::live_handles(), 0) << "message handles leaked";
  }
  // Returns the node at the end of names below the root, creating what is
  // missing (exact names, no lookup rules).
  cli_node *add(std::initializer_list<const char *> names) {
    cli_node *node = cli_state.root;
    for (const char *name : names) {
      cli_node *c = node->first_child;
      while (c && std::string(c->name) != name) c = c->next;
      node = c ? c : create_node(node, name, 0);
    }
    return node;
  }
};

// Returns an allocator text ("<null>" for null) and releases it.
inline std::string take(char *text) {
  std::string s = text ? text : "<null>";
  cli_free(text);
  return s;
}

// Returns the tree below node as "name(children...)" text.
inline std::string shape(const cli_node *node) {
  std::string out;
  for (const cli_node *c = node->first_child; c; c = c->next) {
    out += (out.empty() ? "" : " ") + std::string(c->name ? c->name : "");
    if (c->first_child) out += "(" + shape(c) + ")";
  }
  return out;
}

// Runs fn and returns what it printed to stdout.
template <typename Fn>
std::string printed(Fn fn) {
  fflush(stdout);
  ::testing::internal::CaptureStdout();
  fn();
  fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}
