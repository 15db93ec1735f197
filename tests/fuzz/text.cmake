velmar_fuzz_target(text_words ${CMAKE_CURRENT_LIST_DIR}/text_words.cc cli_core)
