// Start-up settings from the environment and the command line, and the
// usage text (the version banner is in util/version.h).
#pragma once

#include "util/version.h"

// Results of parse_options besides 0 (go on) and -1 (option error).
enum { OPTIONS_DONE = 1 };

// Reads CLI_USER (else the password database), CLI_PASSWORD and CLI_SERVER,
// then the options, into cli_opts and cli_state. Returns 0 to go on,
// OPTIONS_DONE after -h or -V (status 0), -1 for an option error. Leaves
// optind at the first command word.
int parse_options(int argc, char **argv);

// Prints the option summary to standard error; the -U line only for root.
void print_usage(void);
