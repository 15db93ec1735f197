// Reading a password from the terminal.
#pragma once

// Prompts "Password:" on standard error and reads up to 512 characters from
// /dev/tty (standard input when there is none) with echo off. Returns an
// allocator text the caller owns, or null when the terminal settings cannot
// be read or changed.
char *read_password(void);
