// The word grammar that follows from the command table's argument columns,
// and the texts that name word kinds and describe a command's arguments.
// Texts are allocator blocks (util/alloc.h) released with cli_free.
#pragma once

// Returns the kinds that may follow a word of the given kind (0: no word
// read yet, which allows only the command word).
unsigned next_word_kinds(int cmd, unsigned kind);

// Returns the kind an unmarked word takes when the word after it has kind
// next (0: it is the last unmarked word); 0 when it cannot be placed.
unsigned kind_before(int cmd, unsigned next);

// Returns the required kind that must stand before a word of kind next
// (0: at the end of the line); 0 when none is required.
unsigned required_kind_before(int cmd, unsigned next);

// Returns the names of the kinds in mask ("a, b or c"), or null for 0.
char *kinds_text(unsigned mask);

// Returns one argument of a usage text, e.g. "optional path"; null for a
// kind without a usage name.
char *describe_argument(unsigned kind, int use);

// Returns the usage text of a command ("existing path, new node name."),
// or null for a command without argument words.
char *command_usage(int cmd);
