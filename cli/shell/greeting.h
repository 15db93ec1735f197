// The start-up greeting shown on a terminal.
#pragma once

// Copies the file at path to standard output unchanged; a missing file or
// buffer is reported and otherwise ignored.
void show_motd(const char *path);

// Prints the banner, the server line for a non-default server, the message
// of the day and the CLI_PASSWORD warning.
void show_greeting(void);
