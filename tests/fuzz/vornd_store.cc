// Applies arbitrary bytes as a store over a small configuration. A store is
// either refused with the tree untouched, or accepted; an accepted tree must
// write a store that reads back to the same tree.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "vornd/store.h"

namespace {

const char *kModel = R"({"nodes": [
 {"name": "sys", "children": [
   {"name": "name", "type": "string", "max_len": 8, "pattern": "[a-z]*"},
   {"name": "level", "type": "integer", "min": 1, "max": 5},
   {"name": "on", "type": "boolean"}]},
 {"name": "ports", "ops": "adhl", "mirror": "/state",
  "entry": {"ops": "hlr", "children": [
    {"name": "mtu", "type": "integer", "min": 68, "max": 9000},
    {"name": "tap", "type": "boolean", "reveal": {"when": "true", "at": "/",
      "node": {"name": "tapping"}}}]},
  "entries": ["a", "b"]},
 {"name": "state", "entry": {"children": [{"name": "link", "type": "string",
   "ops": "hg"}]}}]})";

void check(bool ok) {
  if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static std::unique_ptr<vornd::Model> model = [] {
    std::string error;
    auto m = vornd::load_model(kModel, "fuzz", error);
    check(m.has_value());
    return std::move(*m);
  }();
  vornd::Tree t(*model);
  std::string before = vornd::store_text(t);
  std::string_view text(reinterpret_cast<const char *>(data), size);
  if (!vornd::apply_store_text(t, text, "fuzz").empty()) {
    check(vornd::store_text(t) == before);
    return 0;
  }
  std::string once = vornd::store_text(t);
  vornd::Tree again(*model);
  check(vornd::apply_store_text(again, once, "again").empty());
  check(vornd::store_text(again) == once);
  for (const auto &part : vornd::split_path(text)) check(!part.empty());
  return 0;
}
