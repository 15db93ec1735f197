// Replays every file of a corpus folder through a libFuzzer entry point, so
// that ctest exercises the fuzz targets in every build without clang.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
  std::error_code ec;
  int count = 0;
  for (const auto &e :
       std::filesystem::directory_iterator(argc == 2 ? argv[1] : "", ec)) {
    if (e.path().filename().string()[0] == '.') continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)),
                      std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()),
                           bytes.size());
    ++count;
  }
  if (count == 0) {
    fprintf(stderr, "usage: %s CORPUS_DIR (not empty)\n", argv[0]);
    return 1;
  }
  printf("replayed %d inputs\n", count);
  return 0;
}
