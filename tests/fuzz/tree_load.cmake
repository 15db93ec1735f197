# The loader fuzz target runs the tree code against the library stand-in.
add_library(tree_fuzz_support STATIC
            ${CMAKE_SOURCE_DIR}/tests/unit/support/fake_vornal.cc)
target_include_directories(tree_fuzz_support PUBLIC
                           ${CMAKE_SOURCE_DIR}/tests/unit)
target_link_libraries(tree_fuzz_support PUBLIC cli_core)
velmar_fuzz_target(tree_load ${CMAKE_CURRENT_LIST_DIR}/tree_load.cc
                   tree_fuzz_support cli_core)
