// Replays every file of a corpus folder through a libFuzzer entry point, so
// that ctest exercises the fuzz targets in every build without clang.
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  DIR *dir = opendir(argv[1]);
  if (!dir) {
    perror(argv[1]);
    return 1;
  }
  int count = 0;
  while (struct dirent *e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::string path = std::string(argv[1]) + "/" + e->d_name;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                            std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()),
                           bytes.size());
    ++count;
  }
  closedir(dir);
  if (count == 0) {
    fprintf(stderr, "%s: empty corpus\n", argv[1]);
    return 1;
  }
  printf("replayed %d inputs\n", count);
  return 0;
}
