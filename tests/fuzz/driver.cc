// The driver of a fuzz target FUZZ_TARGET: libFuzzer's main calls the entry
// below (VELMAR_LIBFUZZER), else main replays a folder, failing when empty.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

void FUZZ_TARGET(std::string_view in);

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  return FUZZ_TARGET({reinterpret_cast<const char *>(data), size}), 0;
}

#ifndef VELMAR_LIBFUZZER
int main(int argc, char **argv) {
  int count = 0;
  for (auto &e : std::filesystem::directory_iterator(argv[argc - 1])) {
    std::ifstream file(e.path(), std::ios::binary);
    FUZZ_TARGET(std::string(std::istreambuf_iterator<char>(file), {})), ++count;
  }
  return printf("replayed %d inputs\n", count), count == 0;
}
#endif
