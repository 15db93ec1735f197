// The shell's tree loader against the real daemon through the real library:
// each kind of description line vornd writes for the demo model (operations
// given or by default, hidden, choices, matches) must reach the loaded tree,
// and every node of the daemon's own listing must be there.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "support/e2e.h"
#include "tree/load.h"
#include "tree/node.h"
#include "tree/path.h"
#include "util/alloc.h"
#include "util/state.h"
#include "vornal.h"

namespace {

// Returns the number of nodes below node.
long count_below(const cli_node *node) {
  long n = 0;
  for (const cli_node *k = node->first_child; k; k = k->next)
    n += 1 + count_below(k);
  return n;
}

// Returns the reply text of one request ("" for none) and releases it.
std::string reply_of(vornal_message *m) {
  char *text = m ? vornal_get_message_reply(m) : nullptr;
  std::string out = text ? text : "";
  free(text);
  vornal_message_free(m);
  return out;
}

TEST(TreeE2E, LoadedDemoTreeHoldsWhatTheDaemonDescribes) {
  e2e::Daemon daemon;
  cli_reset_records();
  ASSERT_EQ(vornal_connect(daemon.socket().c_str()), VORNAL_STATE_CONNECTED);
  reply_of(vornal_send_message(VORNAL_MSG_LOGIN, "", "", "",
                               e2e::user().c_str(), ""));
  build_tree();
  ASSERT_NE(cli_state.root, nullptr);
  const struct {
    const char *path, *ops;
    uint32_t flags;
    int hidden;
    const char *choices, *matches;
  } cases[] = {
      {"/users", "adhl", 0x0F, 0, "", ""},
      {"/network/interfaces/eth0", "hlr", 0x4C, 0, "", ""},
      {"/system", "hl", 0x0C, 0, "", ""},   // the defaults of a branch
      {"/system/timezone", "hgs", 0x34, 0,  // and of a value
       "UTC,Europe/Berlin,Europe/London,America/New_York,Asia/Tokyo", ""},
      {"/services/ssh/listen-interface", "hgsm", 0xB4, 0, "",
       "/network/interfaces"},
      {"/services/snmp/community", "hgs", 0x34, 1, "", ""},
      {"/status/uptime", "hg", 0x14, 0, "", ""},
      {"/debug", "hl", 0x0C, 1, "", ""},
      {"/param/side-effect/network/interfaces", "hg", 0x14, 1, "", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    const cli_node *n = node_from_path(c.path);
    ASSERT_NE(n, nullptr);
    EXPECT_STREQ(n->ops, c.ops);
    EXPECT_EQ(n->flags, c.flags);
    EXPECT_EQ(n->hidden, c.hidden);
    std::string choices;
    for (char **k = n->choices; k && *k; k++)
      choices += (choices.empty() ? "" : ",") + std::string(*k);
    EXPECT_EQ(choices, c.choices);
    char *matched = path_of_node(n->matches);
    EXPECT_EQ(matched ? matched : "", std::string(c.matches));
    cli_free(matched);
  }
  std::string listing = reply_of(vornal_send_message(
      VORNAL_MSG_LIST, nullptr, "/", nullptr, nullptr, nullptr));
  EXPECT_GT(listing.size(), 1000u);
  EXPECT_EQ(count_below(cli_state.root),
            std::count(listing.begin(), listing.end(), '\n') + 1);
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_CONNECTED);
  free_tree();
  vornal_disconnect();
}

}  // namespace
