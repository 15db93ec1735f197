// The version banner, shared by -V, the greeting and the version command.
#pragma once

// Build date shown by the version banner.
extern const char *const cli_build_stamp;

// Prints the version banner to standard output.
void print_version(void);
