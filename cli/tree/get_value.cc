#include "tree/get_value.h"

#include <stdlib.h>

#include "vornal.h"

char *get_value(const char *path, const char *name) {
  vornal_message *msg = vornal_send_message(VORNAL_MSG_GET, nullptr, path,
                                            nullptr, name, nullptr);
  if (!msg) return nullptr;
  char *reply = vornal_get_message_reply(msg);
  char *status = vornal_get_message_response_status(msg);
  vornal_message_free(msg);
  if (!reply) return status;
  free(status);
  return reply;
}
