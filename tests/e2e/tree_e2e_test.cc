// The shell's tree loader against the real daemon through the real library:
// the loaded tree must match, node for node, what the daemon itself lists
// and describes.
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "shell/state.h"
#include "support/e2e.h"
#include "tree/load.h"
#include "tree/node.h"
#include "tree/path.h"
#include "util/alloc.h"
#include "vornal.h"

namespace {

using strings = std::vector<std::string>;

// One request through the library; returns {reply, status}, "<null>" for
// a missing text. A missing handle fails the test.
std::pair<std::string, std::string> ask(int type, const char *a1,
                                        const char *a2, const char *a3,
                                        const char *a4, const char *a5) {
  vornal_message *m = vornal_send_message(type, a1, a2, a3, a4, a5);
  EXPECT_NE(m, nullptr) << "no reply to request type " << type;
  if (!m) return {"<null>", "<null>"};
  char *reply = vornal_get_message_reply(m);
  char *status = vornal_get_message_response_status(m);
  std::pair<std::string, std::string> out{reply ? reply : "<null>",
                                          status ? status : "<null>"};
  free(reply);
  free(status);
  vornal_message_free(m);
  return out;
}

// Decodes one listing component: %XX to its byte, "+" to a space.
std::string url_decoded(const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i] == '+' ? ' ' : s[i];
    }
  }
  return out;
}

// Returns the decoded components of a listing line.
strings components(const std::string &line) {
  strings out(1);
  for (size_t i = 0; i < line.size(); i++) {
    if (line[i] == '\\' && i + 1 < line.size())
      out.back() += line[++i];
    else if (line[i] == '/')
      out.emplace_back();
    else
      out.back() += line[i];
  }
  for (std::string &c : out) c = url_decoded(c);
  return out;
}

// Returns the daemon path text for decoded names (escaping what the
// daemon's path splitter would read).
std::string daemon_path(const strings &names) {
  std::string out;
  for (const std::string &n : names) {
    out += "/";
    for (char c : n) {
      if (c == '/' || c == '\\' || c == '"') out += '\\';
      out += c;
    }
  }
  return out.empty() ? "/" : out;
}

// What the daemon says about one node, parsed here independently.
struct described {
  std::string ops;
  bool hidden = false;
  strings choices;
  std::string matches;
};

// Returns the lines of text (one empty line for an empty text).
strings lines(const std::string &text) {
  strings out(1);
  for (char c : text)
    if (c == '\n')
      out.emplace_back();
    else
      out.back() += c;
  return out;
}

described describe(const std::string &path) {
  described d;
  for (const std::string &line :
       lines(ask(VORNAL_MSG_DESCRIBE, nullptr, path.c_str(), nullptr, nullptr,
                 nullptr)
                 .first)) {
    if (line.starts_with("ops ")) d.ops = line.substr(4);
    if (line == "flags.1 hide") d.hidden = true;
    if (line.starts_with("choices ")) d.choices.push_back(line.substr(8));
    if (line.starts_with("matches ")) d.matches = line.substr(8);
  }
  return d;
}

// Returns the names from below the root down to node.
strings names_of(const cli_node *node) {
  strings out;
  for (; node && node->parent; node = node->parent)
    out.insert(out.begin(), node->name);
  return out;
}

// Appends every node below top to out in pre-order.
void preorder(cli_node *top, std::vector<cli_node *> &out) {
  for (cli_node *k = top->first_child; k; k = k->next) {
    out.push_back(k);
    preorder(k, out);
  }
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

  // Checks the whole loaded tree against the daemon's own listing and
  // descriptions; returns the number of nodes compared.
  int expect_matches_daemon() {
    std::string listing =
        ask(VORNAL_MSG_LIST, nullptr, "/", nullptr, nullptr, nullptr).first;
    std::vector<cli_node *> got;
    preorder(cli_state.root, got);
    strings want = lines(listing);
    EXPECT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size() && i < want.size(); i++) {
      EXPECT_EQ(names_of(got[i]), components(want[i]));
      expect_same_description(got[i], daemon_path(components(want[i])));
    }
    return static_cast<int>(got.size());
  }

  void expect_same_description(const cli_node *node, const std::string &path) {
    described d = describe(path);
    SCOPED_TRACE(path);
    EXPECT_EQ(node->ops ? node->ops : "", d.ops);
    EXPECT_EQ(node->flags, bits_of(d.ops));
    EXPECT_EQ(node->hidden, d.hidden ? 1 : 0);
    strings choices;
    for (char **c = node->choices; c && *c; c++) choices.push_back(*c);
    EXPECT_EQ(choices, d.choices);
    char *matched = path_of_node(node->matches);
    EXPECT_EQ(matched ? matched : "", d.matches);
    cli_free(matched);
    // Every node of the model but the clients' own branch has help.
    bool own = path.rfind("/param", 0) == 0;
    EXPECT_TRUE(own || ask(VORNAL_MSG_HELP, nullptr, path.c_str(), nullptr,
                           nullptr, nullptr)
                               .second == "OK");
    hidden += d.hidden;
    with_choices += !d.choices.empty();
    with_matches += !d.matches.empty();
    letters += d.ops;
  }

  e2e::Daemon daemon;
  int hidden = 0, with_choices = 0, with_matches = 0;
  std::string letters;
};

TEST_F(TreeE2E, DemoTreeMatchesTheDaemonNodeForNode) {
  build_tree();
  ASSERT_NE(cli_state.root, nullptr);
  int nodes = expect_matches_daemon();
  EXPECT_GT(nodes, 50);
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
