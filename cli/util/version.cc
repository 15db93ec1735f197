#include "util/version.h"

#include <stdio.h>

const char *const cli_build_stamp = "2013-04-12T14:54-0700";

void print_version(void) {
  printf("%s %s (%s)\n", "Velmar CLI", "3.0", cli_build_stamp);
}
