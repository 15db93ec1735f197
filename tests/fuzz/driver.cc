// The one driver of every fuzz target, the function FUZZ_TARGET that
// aborts through check() when an invariant breaks: with libFuzzer
// (VELMAR_LIBFUZZER) its main calls the entry below, otherwise main
// replays each file of a corpus folder, as ctest does in every build.
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
  FUZZ_TARGET({reinterpret_cast<const char *>(data), size});
  return 0;
}

#ifndef VELMAR_LIBFUZZER
// Replays each file of the folder argv[1]; an empty or missing one fails.
int main(int argc, char **argv) {
  std::error_code ec;
  int count = 0;
  for (const auto &e :
       std::filesystem::directory_iterator(argc == 2 ? argv[1] : "", ec)) {
    std::ifstream in(e.path(), std::ios::binary);
    FUZZ_TARGET(std::string(std::istreambuf_iterator<char>(in), {}));
    ++count;
  }
  printf("replayed %d inputs\n", count);
  return count == 0;
}
#endif
