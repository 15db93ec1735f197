if(TARGET vornd_core)
  velmar_fuzz_target(vornd_store ${CMAKE_CURRENT_LIST_DIR}/vornd_store.cc vornd_core)
endif()
