// Request handling on the configuration: everything a logged-in session
// asks for, apart from login and logout, which belong to the server.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vornd/tree.h"
#include "wire/frame.h"

namespace vornd {

struct StagedSet {
  std::string path, param;
  wire::Text value;
};

// What one logged-in client changes until it commits or reverts. Its
// candidate shares the running tree until its first change, so that a
// login, a commit or a revert copies no tree: scripts log in for every
// command, and a device's tree has hundreds of thousands of nodes.
class Session {
 public:
  explicit Session(std::shared_ptr<const Tree> t) : shared_(std::move(t)) {}
  // Returns the candidate, to read.
  const Tree &view() const { return own_ ? *own_ : *shared_; }
  // Returns the candidate, to change: its own copy from the first change.
  Tree &edit();
  // Makes t the candidate; a shared t is copied at the next change.
  void reset(std::shared_ptr<const Tree> t);
  void reset(Tree t) {
    own_ = std::make_unique<Tree>(std::move(t));
    shared_.reset();
  }
  // Gives up the candidate as a tree of its own, sharing it from now on.
  std::shared_ptr<const Tree> share();

  std::string user;
  bool batch = false;
  bool batch_failed = false;
  std::vector<StagedSet> staged;
  // Command lines of the changes whose last commit failed; the shell told
  // its user they were committed, so they are never dropped silently.
  std::vector<std::string> unsaved;

 private:
  std::shared_ptr<const Tree> shared_;
  std::unique_ptr<Tree> own_;  // set once changed
};

struct Answer {
  wire::Text reply;
  std::string status;
};

// Request types the daemon knows.
enum Req : uint16_t {
  kNoop = 0,
  kCreate = 10,
  kSetReq = 11,
  kDeleteReq = 12,
  kCommit = 13,
  kRenameReq = 14,
  kGetReq = 15,
  kListReq = 17,
  kDescribe = 18,
  kHelpReq = 19,
  kLogin = 20,
  kRevert = 22,
  kLogout = 23,
  kBatchOpen = 50,
  kBatchClose = 51,
};

class Core {
 public:
  // store_path may be empty: commits then live in memory only.
  Core(const Model &m, std::string store_path);
  // Returns "" or why the store could not be loaded over the defaults.
  std::string load();
  // Sessions that have changed nothing see changes made here.
  Tree &running() { return *running_; }
  // Returns a session whose candidate is the running tree.
  Session open_session(std::string user) const;
  // Returns the answer to a request of a logged-in session.
  Answer handle(Session &s, const wire::Request &q);
  // Writes out the changes of s whose commit failed, if any, before they
  // leave with the session or a revert (why): to the log at error level and
  // to a file beside the store.
  void keep_unsaved(Session &s, const char *why);

 private:
  Answer commit(Session &s);
  Answer batch_close(Session &s);
  std::shared_ptr<Tree> running_;
  std::string store_path_;
};

// Each returns the status text of one operation on tree t.
std::string do_set(Tree &t, std::string_view path, std::string_view param,
                   const wire::Text &value, bool apply);
std::string do_create(Tree &t, std::string_view parent, std::string_view name);
std::string do_delete(Tree &t, std::string_view parent, std::string_view name);
std::string do_rename(Tree &t, std::string_view parent, std::string_view name,
                      std::string_view new_name);
// Each returns the reply and status of a read on tree t.
Answer do_get(const Tree &t, std::string_view path, std::string_view param);
Answer do_list(const Tree &t, std::string_view path);
Answer do_describe(const Tree &t, std::string_view path);
Answer do_help(const Tree &t, std::string_view path);

}  // namespace vornd
