// Model and store files, users file, logins and the command line.
#include <crypt.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "vornd/auth.h"
#include "vornd/handlers.h"
#include "vornd/options.h"
#include "vornd/store.h"
#include "vornd/synthetic.h"
#include "vornd_test_model.h"

namespace {

std::string model_error(const std::string &text) {
  std::string error;
  EXPECT_FALSE(vornd::load_model(text, "m.json", error));
  return error;
}

TEST(VorndModel, ParseErrorsNameFileAndLine) {
  EXPECT_EQ(
      model_error("{\"nodes\": [\n {\"name\": \"a\"},\n {\"name\" \"b\"}\n]}")
          .substr(0, 10),
      "m.json:3: ");
  EXPECT_EQ(model_error("{\"nodes\": [\n\n\n{\"name\": \"a\",}]}").substr(0, 9),
            "m.json:4:");
  EXPECT_EQ(
      model_error("{\"nodes\": [{\"name\": \"a\", \"type\": \"float\"}]}"),
      "m.json: /a: unknown type 'float'");
  EXPECT_EQ(
      model_error("{\"nodes\": [{\"name\": \"a\", \"children\": [{\"name\": "
                  "\"b\", \"ops\": \"gx\"}]}]}"),
      "m.json: /a/b: unknown operation letter 'x'");
  EXPECT_EQ(model_error("{\"nodes\": [{\"name\": \"p\", \"type\": \"integer\", "
                        "\"min\": 5, \"default\": 1}]}"),
            "m.json: /p: default '1': out of range");
  EXPECT_NE(model_error("{\"nodes\": [{\"name\": \"s\", \"type\": \"string\", "
                        "\"pattern\": \"(\"}]}")
                .find("bad pattern"),
            std::string::npos);
  EXPECT_EQ(model_error("[]"), "m.json: /: the model needs a \"nodes\" array");
}

TEST(VorndModel, LineOfCountsNewlines) {
  EXPECT_EQ(vornd::line_of("ab\ncd\nef", 0), 1u);
  EXPECT_EQ(vornd::line_of("ab\ncd\nef", 3), 2u);
  EXPECT_EQ(vornd::line_of("ab\ncd\nef", 99), 3u);
}

TEST(VorndModel, SyntheticModelIsDeterministicAndNearTheAskedSize) {
  std::string error;
  auto m = vornd::load_model(vornd::synthetic_model_text(10000), "s", error);
  ASSERT_TRUE(m) << error;
  vornd::Tree t(**m);
  size_t n = vornd::Tree::count(t.root());
  EXPECT_GT(n, 9900u);
  EXPECT_LT(n, 10100u);
  EXPECT_EQ(vornd::synthetic_model_text(500), vornd::synthetic_model_text(500));
  EXPECT_NE(t.resolve("/routes/r1/speed"), nullptr);
}

TEST(VorndStore, RoundTripKeepsValuesAndEntries) {
  auto m = vornd_test::test_model();
  vornd::Tree t(*m);
  ASSERT_EQ(vornd::do_create(t, "/ports", "x/y"), "OK");
  ASSERT_EQ(vornd::do_delete(t, "/ports", "a"), "OK");
  ASSERT_EQ(vornd::do_set(t, "/ports/\"x/y\"", "mtu", "9000", true), "OK");
  ASSERT_EQ(vornd::do_set(t, "/ports/b", "tap", "true", true), "OK");
  ASSERT_EQ(vornd::do_set(t, "/sys", "name", "gw1", true), "OK");
  std::string text = vornd::store_text(t);
  vornd::Tree fresh(*m);
  ASSERT_EQ(vornd::apply_store_text(fresh, text, "s.json"), "");
  EXPECT_EQ(*vornd::do_list(fresh, "/").reply, *vornd::do_list(t, "/").reply);
  EXPECT_EQ(*vornd::do_get(fresh, "/ports/x\\/y", "mtu").reply, "9000");
  EXPECT_EQ(*vornd::do_get(fresh, "/sys", "name").reply, "gw1");
  EXPECT_NE(fresh.resolve("/state/tapping"), nullptr);  // effects redone
  EXPECT_EQ(fresh.resolve("/state/ports/a"), nullptr);
}

TEST(VorndStore, OddTextsRoundTripAndBrokenUtf8IsRefused) {
  auto m = vornd_test::test_model();
  vornd::Tree t(*m);
  const std::string odd = "q\"b\\s\tcaf\xc3\xa9\x01";
  ASSERT_EQ(vornd::do_create(t, "/ports", "q\\\"b\\\\s\tcaf\xc3\xa9\x01"),
            "OK");
  ASSERT_NE(vornd::Tree::find_kid(*t.resolve("/ports"), odd), nullptr);
  ASSERT_EQ(vornd::do_set(t, "/sys", "note", odd, true), "OK");
  vornd::Tree fresh(*m);
  ASSERT_EQ(vornd::apply_store_text(fresh, vornd::store_text(t), "s"), "");
  EXPECT_NE(vornd::Tree::find_kid(*fresh.resolve("/ports"), odd), nullptr);
  EXPECT_EQ(*vornd::do_get(fresh, "/sys", "note").reply, odd);
  EXPECT_EQ(vornd::do_set(t, "/sys", "note", "bad\xc3", true),
            "ERR sanity check failed");
  EXPECT_EQ(
      vornd::do_set(t, "/sys", "note", "\xed\xa0\x80", true),  // surrogate
      "ERR sanity check failed");
  EXPECT_EQ(vornd::do_create(t, "/ports", "x\xff"),
            "ERR result=22 Invalid argument");
}

TEST(VorndStore, BadStoreLeavesTreeUntouched) {
  auto m = vornd_test::test_model();
  vornd::Tree t(*m);
  std::string before = vornd::store_text(t);
  EXPECT_EQ(
      vornd::apply_store_text(t, "{\n\"version\": 1,\n\"root\": }", "s.json")
          .substr(0, 9),
      "s.json:3:");
  std::string bad = R"({"version": 1, "root": {"kids": [{"name": "sys",
    "kids": [{"name": "level", "value": "77"}]}]}})";
  EXPECT_EQ(vornd::apply_store_text(t, bad, "s.json"),
            "s.json: /sys/level: value '77' fails its checks");
  EXPECT_EQ(vornd::store_text(t), before);
}

TEST(VorndStore, SaveReplacesFileAndReportsFailure) {
  char dir[] = "/tmp/vornd-unit-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  std::string path = std::string(dir) + "/store.json";
  auto m = vornd_test::test_model();
  vornd::Tree t(*m);
  ASSERT_EQ(vornd::save_store(t, path), "");
  ASSERT_EQ(vornd::do_set(t, "/sys", "level", "1", true), "OK");
  ASSERT_EQ(vornd::save_store(t, path), "");
  vornd::Tree back(*m);
  ASSERT_EQ(vornd::load_store(back, path), "");
  EXPECT_EQ(*vornd::do_get(back, "/sys", "level").reply, "1");
  EXPECT_NE(vornd::save_store(t, std::string(dir) + "/no/such/dir/s.json"), "");
  unlink(path.c_str());
  rmdir(dir);
}

TEST(VorndAuth, PasswordsAndPeerCredentials) {
  char dir[] = "/tmp/vornd-unit-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  std::string path = std::string(dir) + "/users";
  crypt_data data{};
  std::string hash = crypt_r("s3cret", "$6$abcdefgh$", &data);
  std::ofstream(path) << "# accounts\nalice:" << hash << ":19000:0:::\n";
  std::string error;
  auto users = vornd::load_users(path, error);
  ASSERT_TRUE(users) << error;
  vornd::Peer tcp;
  EXPECT_TRUE(vornd::authenticate(tcp, "alice", "s3cret", &*users));
  EXPECT_FALSE(vornd::authenticate(tcp, "alice", "s3cre", &*users));
  EXPECT_FALSE(vornd::authenticate(tcp, "bob", "s3cret", &*users));
  EXPECT_FALSE(vornd::authenticate(tcp, "alice", "s3cret", nullptr));
  vornd::Peer root{true, 0, ""}, nobody{true, 65534, ""};
  EXPECT_TRUE(vornd::authenticate(root, "anyone", "", nullptr));
  EXPECT_FALSE(vornd::authenticate(nobody, "root", "", nullptr));
  EXPECT_TRUE(vornd::authenticate(nobody, "nobody", "", nullptr));
  std::ofstream(path) << "nocolon\n";
  EXPECT_FALSE(vornd::load_users(path, error));
  EXPECT_EQ(error, path + ":1: expected user:hash");
  EXPECT_TRUE(vornd::same_secret("abc", "abc"));
  EXPECT_FALSE(vornd::same_secret("abc", "abd"));
  EXPECT_FALSE(vornd::same_secret("abc", std::string("abc\0", 4)));
  unlink(path.c_str());
  rmdir(dir);
}

TEST(VorndOptions, ParsesAndRefuses) {
  auto parse = [](std::vector<const char *> args, std::string &error) {
    args.insert(args.begin(), "vornd");
    return vornd::parse_options(static_cast<int>(args.size()),
                                const_cast<char **>(args.data()), error);
  };
  std::string error;
  auto o = parse({"--socket", "/tmp/s", "--synthetic", "1000", "--store", "x"},
                 error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->socket, "/tmp/s");
  EXPECT_EQ(o->synthetic, 1000);
  EXPECT_EQ(parse({}, error)->socket, "/dev/vornd");
  EXPECT_FALSE(parse({"--synthetic", "12k"}, error));
  EXPECT_FALSE(parse({"--store"}, error));
  EXPECT_FALSE(parse({"--bogus"}, error));
  EXPECT_FALSE(parse({"--model", "m", "--synthetic", "5"}, error));
}

}  // namespace
