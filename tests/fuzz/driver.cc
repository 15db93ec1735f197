// The one driver of every fuzz target FUZZ_TARGET: libFuzzer's main calls the
// entry below (VELMAR_LIBFUZZER), else main replays a corpus folder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

void FUZZ_TARGET(std::string_view in);

// Aborts, naming the invariant, unless ok.
void check(bool ok, const char *what) {
  if (!ok) fprintf(stderr, "fuzz invariant broken: %s\n", what), abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return FUZZ_TARGET({reinterpret_cast<const char *>(data), size}), 0;
}

#ifndef VELMAR_LIBFUZZER
// Replays each file of the folder argv[1]; an empty or missing one fails.
int main(int argc, char **argv) {
  int count = 0;
  std::error_code ec;
  for (auto &e : std::filesystem::directory_iterator(argv[argc - 1], ec)) {
    std::ifstream in(e.path(), std::ios::binary);
    FUZZ_TARGET(std::string(std::istreambuf_iterator<char>(in), {}));
    ++count;
  }
  return printf("replayed %d inputs\n", count), count == 0;
}
#endif
