// Running one command line: parse, refuse what may not run, call the
// handler and record journaled lines.
#pragma once

// Runs line (still the caller's). With replaying set the line is not
// recorded in the change journal again.
void run_command_line(const char *line, int replaying);
