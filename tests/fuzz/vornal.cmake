# The client library's reading of what the daemon sends. The shared
# library exports only its C API, so the target builds the connection code
# from the library's sources.
if(TARGET vornal2)
  set(VORNAL_DIR ${CMAKE_SOURCE_DIR}/platform/vornal)
  get_property(sources GLOBAL PROPERTY VORNAL_CONNECTION_SOURCES)
  add_library(vornal_fuzz_support STATIC ${sources})
  target_include_directories(vornal_fuzz_support PUBLIC ${VORNAL_DIR}
                             ${CMAKE_SOURCE_DIR}/platform)
  target_link_libraries(vornal_fuzz_support PUBLIC wire Threads::Threads)
  velmar_fuzz_target(vornal_reply ${CMAKE_CURRENT_LIST_DIR}/vornal_reply.cc
                     vornal_fuzz_support)
endif()
