// The create step inside an interactive create line that names parameters
// ("create ./x a=1"): the parser creates the node before it parses a=1 and
// goes on as set on the new node.
#pragma once

struct parsed_command;

enum parse_create_result {
  PARSE_CREATE_NOT_RUN,  // nothing created: parsing goes on as create
  PARSE_CREATE_DONE,     // pc->created holds the new node
  PARSE_CREATE_FAILED,   // create has reported; the parse stops and succeeds
};

// Runs the create step for pc (target set to its path_node). Returns one of
// parse_create_result.
int create_in_parse(struct parsed_command *pc);

// Undoes a creation made by create_in_parse when the rest of the line is
// refused; clears pc->created.
void undo_create_in_parse(struct parsed_command *pc);
