// One command line turned into a parsed command, by the interactive parser
// (against the local tree) or the non-interactive one (by word form).
#pragma once

#include "vornal.h"

struct cli_node;

// One parameter word, a talloc child of its parsed command.
struct parsed_command_value_pair {
  char *name;               // the word up to its first "=", or the whole word
  char *value;              // the text after the first "=", or null without one
  vornal_message *request;  // the set request sent for this pair
  char *status_text;        // the status received for that request
  parsed_command_value_pair *next;
};

// A talloc context of its own; every text in it is a talloc child.
struct parsed_command {
  int command;          // row in cli_commands, -1 until a command word is known
  int word_count;       // words on the line, the unfinished last one included
  char *partial;        // the last word when the line does not end with a space
  unsigned expected;    // kinds that may follow the parsed words
  char *path;           // interactive: absolute; otherwise as typed
  cli_node *target;     // the node acted on (interactive parser)
  cli_node *path_node;  // deepest existing node on the path word
  cli_node *created;    // node made by create for this line
  char *new_name;
  parsed_command_value_pair *values;
  int completing;  // parsed for tab completion: create and delete keep quiet
  int create_done;
  int output_shown;
  int undoing;
};

// Returns the parsed line, or null when it was refused (a message has been
// printed). The caller releases it with free_parsed_command.
struct parsed_command *parse_command_line(const char *line, int completing);

// Deletes the node that create made for pc, quietly and without marking
// the session changed; clears pc->created. Nothing happens without one.
// The create command (commands/) provides it.
void undo_create(struct parsed_command *pc);

// Releases a parsed command with its pairs and texts; null is ignored.
void free_parsed_command(struct parsed_command *pc);

// Parses words[0..count) against the local tree. Returns 0, or 1 on
// refusal after printing why.
int parse_words_interactive(struct parsed_command *pc, char **words, int count);

// Parses words[0..count) by their form alone. Returns 0, or 1 on refusal
// after printing why and setting the status.
int parse_words_batch(struct parsed_command *pc, char **words, int count);

// Returns the mask of kinds that word number index could be, looking below
// node (the current node when null).
unsigned classify_word(int cmd, const char *word, int index,
                       struct cli_node *node);

// Records words[index] as a word of the given kind. Returns 0, or 1 when
// memory ran out.
int store_word(struct parsed_command *pc, char **words, int index,
               unsigned kind);

// Appends a name/value pair for a parameter word. Returns 0, or 1 when
// memory ran out.
int add_value_pair(struct parsed_command *pc, const char *word);

// Returns a string list of the parameter names, or choice values after a
// "=", that a parameter word may become; null for none. The caller frees
// it with strlist_free.
char **parameter_candidates(int cmd, const char *word, struct cli_node *node);
