// The place where the create command fills in the parser's create step.
// Until cmd_create and undo_create exist, nothing is created here: the
// parser records the remaining words as create's own parameters, and
// dispatch then runs create's handler for the whole line.
#include "lang/parse_create.h"

#include "lang/parser.h"

int create_in_parse(struct parsed_command *) {
  return PARSE_CREATE_NOT_RUN;
}

void undo_create_in_parse(struct parsed_command *pc) {
  // Nothing can have been created yet (create_in_parse never creates), so
  // there is no node to delete; with create in place this runs undo_create.
  pc->created = nullptr;
}
