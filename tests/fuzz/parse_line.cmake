# The command-line parser in both shells; links the library stand-in
# (tree_fuzz_support, tree_load.cmake) since the engine's handlers call the
# library, and the daemon's core for its rule of what may name a node.
velmar_fuzz_target(parse_line ${CMAKE_CURRENT_LIST_DIR}/parse_line.cc
                   cli_core tree_fuzz_support vornd_core)
