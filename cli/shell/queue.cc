#include "shell/queue.h"

#include <stdlib.h>
#include <string.h>

#include "util/state.h"

int queue_command(const char *text) {
  cli_queue_entry *entry = (cli_queue_entry *)calloc(1, sizeof *entry);
  if (!entry) return 1;
  entry->text = strdup(text);
  if (!entry->text) {
    free(entry);
    return 1;
  }
  cli_queue_entry **tail = &cli_state.command_queue;
  while (*tail) tail = &(*tail)->next;
  *tail = entry;
  cli_state.use_queue = 1;
  return 0;
}

char *dequeue_command(void) {
  cli_queue_entry *head = cli_state.command_queue;
  if (!head) return nullptr;
  cli_state.command_queue = head->next;
  char *text = head->text;
  free(head);
  return text;
}

void clear_command_queue(void) {
  while (char *text = dequeue_command()) free(text);
}
