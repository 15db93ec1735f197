// Replies that do not fit in the socket buffers: vornd must keep them and
// send the rest once the client reads again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "support/daemon.h"
#include "support/raw_client.h"

TEST(VorndBacklog, ReplyLargerThanTheSocketBuffersArrivesWhole) {
  e2e::Daemon d({"--synthetic", "30000"});
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login("root"), "OK");
  // Two listings asked at once, read only after a pause: the daemon meets a
  // full buffer and must finish both later, in order.
  wire::Request list{100, 17, {std::nullopt, "/", {}, {}, {}}};
  c.send_raw(wire::encode(list));
  list.id = 101;
  c.send_raw(wire::encode(list));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (uint32_t id : {100u, 101u}) {
    std::optional<wire::Frame> f = c.next_frame();
    ASSERT_TRUE(f && f->kind == wire::Kind::reply) << "reply " << id;
    EXPECT_EQ(f->reply.id, id);
    ASSERT_TRUE(f->reply.reply);
    const std::string &text = *f->reply.reply;
    EXPECT_GT(text.size(), 400u * 1024);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n') + 1, 29998);
    EXPECT_TRUE(text.ends_with("\nparam/side-effect"));
  }
  EXPECT_EQ(c.status(0), "OK");  // the link still answers
}
