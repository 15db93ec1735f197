// get and set: reading and changing parameters of one node.
#pragma once

struct parsed_command;

// Marks the create step of pc done, makes the created node its path node
// and sets the line's parameters on it. Returns cmd_set's result.
int set_after_create(struct parsed_command *pc);
