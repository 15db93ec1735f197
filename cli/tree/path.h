// Conversions between path texts and tree nodes. Every text returned is an
// allocator block (util/alloc.h) released by the caller with cli_free.
#pragma once

struct cli_node;

// Returns the absolute escaped path of node ("/" for the root, "/a/x\/y"),
// or null for a null node.
char *path_of_node(const cli_node *node);

// Returns the unescaped path below the root with a final separator
// ("a/b/"), or null for the root or a null node.
char *branch_of_node(const cli_node *node);

// Returns the node whose branch_of_node text is branch, looked up from the
// root (the root for null); null when there is none. Names may hold the
// separator, so the text is matched against the names, not split.
cli_node *node_from_branch(const char *branch);

// Returns the node that text names from the current node (from the root
// when it begins with the separator), or null.
cli_node *node_from_path(const char *text);

// Resolves the longest existing prefix of *rest and returns its last node
// (the start node when nothing resolves). *prefix and *rest are allocator
// texts owned by the caller; a text replaced here is released here.
cli_node *resolve_path_prefix(char **prefix, char **rest);

// Returns words first..last, each followed by the separator, with a leading
// separator when absolute is non-zero; null when memory runs out.
char *join_path_words(char *const *words, int first, int last, int absolute);

// Returns the node named by path plus name when all of it exists; otherwise
// prints an "Argh." message and returns null.
cli_node *node_from_absolute_path(const char *path, const char *name);

// Returns the absolute form of a user's path text: the canonical path of
// the named node in an interactive shell, the text with a leading
// separator otherwise. Null when the text names no node.
char *absolute_path_text(const char *text);
