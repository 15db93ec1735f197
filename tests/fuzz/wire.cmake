velmar_fuzz_target(wire_frame ${CMAKE_CURRENT_LIST_DIR}/wire_frame.cc wire)
