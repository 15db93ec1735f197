// Candidate path texts for completion: the nodes below a starting node that
// suit a command's operation mask, written as paths from that node.
#pragma once

struct cli_node;

// Returns a string list of candidate texts below node, each prefixed with
// prefix (when given) and filtered by partial (ignoring case); null when
// there are none or node is null. mode is the command's path_mode; recurse
// enters subtrees. The caller frees the list with strlist_free.
char **child_candidates(cli_node *node, const char *prefix, const char *partial,
                        unsigned mask, int mode, int recurse);

// Adds the candidates of first and its later siblings to *list. path is the
// accumulated path from the starting node to their parent (null at the top);
// returns it with the same content, possibly moved. Allocator texts.
char *collect_candidates(cli_node *first, const char *prefix,
                         const char *partial, unsigned mask, int mode,
                         int recurse, char *path, char ***list);
