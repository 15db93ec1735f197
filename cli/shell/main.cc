// The cli program: everything happens in the start-up sequence.
#include "shell/startup.h"

int main(int argc, char **argv) {
  return cli_main(argc, argv);
}
