// The shell's tree loader against the real daemon through the real library:
// the loaded tree must match, node for node, what the daemon itself lists
// and describes, read here independently of the shell's own parsing.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/e2e.h"
#include "tree/load.h"
#include "tree/node.h"
#include "tree/path.h"
#include "util/alloc.h"
#include "util/state.h"
#include "vornal.h"

namespace {

using strings = std::vector<std::string>;

// One request through the library; returns {reply, status}, "<null>" for
// a missing text. A missing handle fails the test.
std::pair<std::string, std::string> ask(int type, const char *a1,
                                        const char *a2, const char *a3 = {},
                                        const char *a4 = {},
                                        const char *a5 = {}) {
  vornal_message *m = vornal_send_message(type, a1, a2, a3, a4, a5);
  EXPECT_NE(m, nullptr) << "no reply to request type " << type;
  auto take = [](char *t) {
    std::string s = t ? t : "<null>";
    free(t);
    return s;
  };
  std::pair<std::string, std::string> out = {
      m ? take(vornal_get_message_reply(m)) : "<null>",
      m ? take(vornal_get_message_response_status(m)) : "<null>"};
  vornal_message_free(m);
  return out;
}

// Returns a name as a listing writes it: URL-style, "+" for a space.
std::string encoded(const std::string &name) {
  std::string out;
  char hex[4];
  for (unsigned char c : name) {
    snprintf(hex, sizeof hex, "%%%02X", c);
    out += isalnum(c) || strchr(".-_", c) ? std::string(1, (char)c)
           : c == ' '                     ? std::string("+")
                                          : std::string(hex);
  }
  return out;
}

// Appends to listing the lines of every node below node (prefix: the line
// of node itself and "/"), and the nodes to nodes, in pre-order.
void walk(cli_node *node, const std::string &prefix, std::string &listing,
          std::vector<cli_node *> &nodes) {
  for (cli_node *k = node->first_child; k; k = k->next) {
    std::string line = prefix + encoded(k->name);
    listing += (listing.empty() ? "" : "\n") + line;
    nodes.push_back(k);
    walk(k, line + "/", listing, nodes);
  }
}

// What the daemon says about one node.
struct described {
  std::string ops;
  bool hidden = false;
  strings choices;
  std::string matches;
};

described describe(const char *path) {
  described d;
  std::istringstream in(ask(VORNAL_MSG_DESCRIBE, nullptr, path).first);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("ops ")) d.ops = line.substr(4);
    if (line == "flags.1 hide") d.hidden = true;
    if (line.starts_with("choices ")) d.choices.push_back(line.substr(8));
    if (line.starts_with("matches ")) d.matches = line.substr(8);
  }
  return d;
}

// Returns the letters' operation bits, counted here independently.
uint32_t bits_of(const std::string &letters) {
  const std::string order = "adhlgsrm";
  uint32_t bits = 0;
  for (char c : letters)
    if (order.find(c) != std::string::npos) bits |= 1u << order.find(c);
  return bits;
}

class TreeE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    cli_reset_records();
    ASSERT_EQ(vornal_connect(daemon.socket().c_str()), VORNAL_STATE_CONNECTED);
    const char *user = getpwuid(geteuid())->pw_name;
    ASSERT_EQ(ask(VORNAL_MSG_LOGIN, "", "", "", user, "").second, "OK");
  }
  void TearDown() override {
    free_tree();
    vornal_disconnect();
  }
  e2e::Daemon daemon;
};

TEST_F(TreeE2E, DemoTreeMatchesTheDaemonNodeForNode) {
  build_tree();
  ASSERT_NE(cli_state.root, nullptr);
  std::string listing;
  std::vector<cli_node *> nodes;
  walk(cli_state.root, "", listing, nodes);
  EXPECT_EQ(listing, ask(VORNAL_MSG_LIST, nullptr, "/").first);
  EXPECT_GT(nodes.size(), 50u);
  int hidden = 0, with_choices = 0, with_matches = 0;
  std::string letters;
  for (const cli_node *node : nodes) {
    char *path = path_of_node(node), *matched = path_of_node(node->matches);
    SCOPED_TRACE(path);
    described d = describe(path);
    EXPECT_EQ(node->ops ? node->ops : "", d.ops);
    EXPECT_EQ(node->flags, bits_of(d.ops));
    EXPECT_EQ(node->hidden, d.hidden ? 1 : 0);
    strings choices;
    for (char **c = node->choices; c && *c; c++) choices.push_back(*c);
    EXPECT_EQ(choices, d.choices);
    EXPECT_EQ(matched ? matched : "", d.matches);
    // Every node of the model but the clients' own branch has help.
    EXPECT_TRUE(std::string(path).starts_with("/param") ||
                ask(VORNAL_MSG_HELP, nullptr, path).second == "OK");
    hidden += d.hidden;
    with_choices += !d.choices.empty();
    with_matches += !d.matches.empty();
    letters += d.ops;
    cli_free(path);
    cli_free(matched);
  }
  // The demo model has all of these; a loader that drops them must fail.
  EXPECT_GT(hidden, 0);
  EXPECT_GT(with_choices, 0);
  EXPECT_GT(with_matches, 0);
  for (char op : std::string("adhlgsrm"))
    EXPECT_NE(letters.find(op), std::string::npos) << op;
  EXPECT_NE(node_from_path("/param/side-effect"), nullptr);
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_CONNECTED);
}

}  // namespace
