// A commit that vornd cannot make durable loses nothing: the candidate
// stays for a retry, and changes still unsaved when the session ends go to
// the log and to a file beside the store, from which cli can apply them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/e2e.h"

namespace {

std::string slurp(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(VorndDurability, AFailedCommitIsKeptRetriedAndWrittenOut) {
  e2e::TempDir st;
  const std::string store = st.path + "/store.json", tmp = store + ".tmp";
  e2e::Daemon d({"--store", store});
  // A folder where the commit writes its temporary file fails the write
  // for any user, root included.
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login(e2e::user()), "OK");
  auto set = [&](const char *param, const char *value) {
    return c.status(11, {}, "/system", {}, param, value);
  };
  ASSERT_EQ(set("hostname", "first-host"), "OK");
  EXPECT_EQ(c.status(13).rfind("ERR ", 0), 0u);
  EXPECT_EQ(c.call(15, {}, "/system", {}, "hostname").reply, "first-host");
  ASSERT_EQ(rmdir(tmp.c_str()), 0);
  EXPECT_EQ(c.status(13), "OK");  // the retry saves what failed before
  EXPECT_NE(slurp(store).find("\"first-host\""), std::string::npos);

  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  const std::string odd = "a \"b\" c\\d =/x";
  ASSERT_EQ(set("hostname", "second-host"), "OK");
  ASSERT_EQ(set("location", odd.c_str()), "OK");
  EXPECT_EQ(c.status(13).rfind("ERR ", 0), 0u);
  EXPECT_EQ(c.status(23), "OK");  // logout: the session and its changes end
  EXPECT_EQ(slurp(store).find("second-host"), std::string::npos);
  std::string log = d.log();
  EXPECT_NE(log.find("error: commit by"), std::string::npos) << log;
  EXPECT_NE(log.find("error: unsaved: set /system hostname=second-host"),
            std::string::npos)
      << log;
  std::string saved;
  for (const auto &e : std::filesystem::directory_iterator(st.path))
    if (e.path().string().find(".unsaved-") != std::string::npos)
      saved = e.path().string();
  ASSERT_FALSE(saved.empty()) << log;

  // Typed again, the lines bring back exactly what was lost.
  ASSERT_EQ(rmdir(tmp.c_str()), 0);
  e2e::RunResult r =
      e2e::run({"cli", "-C", "-T", "-s", d.socket(), "-f", saved}, "",
               {"CLI_USER=" + e2e::user()});
  EXPECT_EQ(r.exit_code(), 0) << r.out << r.err;
  e2e::RawClient after(d.socket());
  ASSERT_EQ(after.login(e2e::user()), "OK");
  EXPECT_EQ(after.call(15, {}, "/system", {}, "location").reply, odd);
  EXPECT_EQ(after.call(15, {}, "/system", {}, "hostname").reply, "second-host");
}

}  // namespace
