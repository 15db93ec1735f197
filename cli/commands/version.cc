// The version command prints the same banner as the -V option.
#include "commands/handlers.h"
#include "shell/options.h"

int print_version(struct parsed_command *) {
  print_version();
  return 0;
}
