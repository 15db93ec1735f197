#include "vornd/handlers.h"

#include <malloc.h>

#include "vornd/effects.h"
#include "vornd/log.h"
#include "vornd/pending.h"
#include "vornd/store.h"

namespace vornd {
namespace {

// Returns argument i of q as a view; NULL reads as empty.
std::string_view arg(const wire::Request &q, size_t i) {
  return q.args[i] ? std::string_view(*q.args[i]) : std::string_view();
}

}  // namespace

Tree &Session::edit() {
  if (!own_) own_ = std::make_unique<Tree>(shared_->clone());
  shared_.reset();
  return *own_;
}

void Session::reset(std::shared_ptr<const Tree> t) {
  own_.reset();
  shared_ = std::move(t);
}

std::shared_ptr<const Tree> Session::share() {
  if (own_) shared_ = std::shared_ptr<Tree>(std::move(own_));
  return shared_;
}

Core::Core(const Model &m, std::string store_path)
    : running_(std::make_shared<Tree>(m)), store_path_(std::move(store_path)) {
  settle(*running_);
}

std::string Core::load() {
  if (store_path_.empty()) return "";
  std::string err = load_store(*running_, store_path_);
  malloc_trim(0);  // the parsed document is gone
  return err;
}

Session Core::open_session(std::string user) const {
  Session s(running_);
  s.user = std::move(user);
  return s;
}

Answer Core::commit(Session &s) {
  if (!store_path_.empty()) {
    std::string err = save_store(s.view(), store_path_);
    if (!err.empty()) {
      // The candidate stays: the next commit of the session tries again.
      s.unsaved = pending_changes(*running_, s.view());
      log_error("commit by %s failed, %zu changes not saved: %s",
                quoted(s.user).c_str(), s.unsaved.size(), err.c_str());
      return {std::nullopt, "ERR " + err};
    }
  }
  s.unsaved.clear();
  // Running and the candidate are one tree until the session's next change.
  running_ = std::const_pointer_cast<Tree>(s.share());
  malloc_trim(0);  // the old running tree may be large: give it back
  log_event("commit by %s", s.user.c_str());
  return {std::nullopt, "OK"};
}

void Core::keep_unsaved(Session &s, const char *why) {
  if (s.unsaved.empty()) return;
  std::string why_not;
  std::string file = write_beside(store_path_, s.unsaved, why_not);
  std::string where =
      file.empty() ? "no file beside the store: " + why_not : "also in " + file;
  log_error(
      "changes of %s not saved (commit failed, then %s): %zu lines "
      "follow, %s",
      quoted(s.user).c_str(), why, s.unsaved.size(), where.c_str());
  for (const std::string &line : s.unsaved)
    log_error("unsaved: %s", line.c_str());
  notify_status("unsaved changes of " + quoted(s.user) + ": " +
                (file.empty() ? "see the log" : file));
  s.unsaved.clear();
}

Answer Core::batch_close(Session &s) {
  if (!s.batch) return {std::nullopt, "ERR No batch open"};
  bool ok = !s.batch_failed;
  if (ok) {
    Tree work = s.view().clone();
    for (const StagedSet &st : s.staged)
      ok = ok && do_set(work, st.path, st.param, st.value, true) == "OK";
    if (ok) s.reset(std::move(work));
  }
  s.batch = false;
  s.batch_failed = false;
  s.staged.clear();
  return {std::nullopt, ok ? "OK" : "ERR batch rejected"};
}

Answer Core::handle(Session &s, const wire::Request &q) {
  const Tree &t = s.view();
  switch (q.type) {
    case kCreate:
      return {std::nullopt, do_create(s.edit(), arg(q, 1), arg(q, 2))};
    case kSetReq: {
      bool staged = s.batch;
      std::string st =
          do_set(s.edit(), arg(q, 1), arg(q, 3), q.args[4], !staged);
      if (staged) {
        s.staged.push_back(
            {std::string(arg(q, 1)), std::string(arg(q, 3)), q.args[4]});
        if (st != "OK") s.batch_failed = true;
      }
      return {std::nullopt, st};
    }
    case kDeleteReq:
      return {std::nullopt, do_delete(s.edit(), arg(q, 1), arg(q, 2))};
    case kCommit:
      return commit(s);
    case kRenameReq:
      return {std::nullopt,
              do_rename(s.edit(), arg(q, 1), arg(q, 2), arg(q, 4))};
    case kGetReq:
      return do_get(t, arg(q, 1), arg(q, 3));
    case kListReq:
      return do_list(t, arg(q, 1));
    case kDescribe:
      return do_describe(t, arg(q, 1));
    case kHelpReq:
      return do_help(t, arg(q, 1));
    case kRevert:
      keep_unsaved(s, "revert");
      s.reset(running_);
      s.batch = false;
      s.staged.clear();
      return {std::nullopt, "OK"};
    case kBatchOpen:
      s.batch = true;
      s.batch_failed = false;
      s.staged.clear();
      return {std::nullopt, "OK"};
    case kBatchClose:
      return batch_close(s);
    default:
      return {std::nullopt, "ERR Unknown request"};
  }
}

}  // namespace vornd
