// Loads arbitrary bytes as a device model. A model is refused with a reason
// naming the origin, or loaded; a loaded model must give a tree that can be
// listed from its root, and whose store reads back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "vornd/handlers.h"
#include "vornd/store.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  std::string error;
  auto m = vornd::load_model(text, "fuzz.json", error);
  if (!m) {
    check(error.rfind("fuzz.json", 0) == 0);
    return 0;
  }
  // As the daemon starts: the core settles mirrors and reveals.
  vornd::Core core(**m, "");
  vornd::Tree &t = core.running();
  vornd::Answer list = vornd::do_list(t, "/");
  check(list.status == "OK");
  vornd::do_describe(t, "/");
  vornd::do_help(t, "/");
  std::string once = vornd::store_text(t);
  vornd::Core fresh(**m, "");
  check(vornd::apply_store_text(fresh.running(), once, "again").empty());
  check(vornd::store_text(fresh.running()) == once);
  return 0;
}
