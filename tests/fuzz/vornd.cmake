# The daemon's decoders of outside input: the store, the model, the users
# file and the request stream of a client.
if(TARGET vornd_core)
  velmar_fuzz_target(vornd_store ${CMAKE_CURRENT_LIST_DIR}/vornd_store.cc vornd_core)
  velmar_fuzz_target(vornd_model ${CMAKE_CURRENT_LIST_DIR}/vornd_model.cc vornd_core)
  velmar_fuzz_target(vornd_users ${CMAKE_CURRENT_LIST_DIR}/vornd_users.cc vornd_core)
  velmar_fuzz_target(vornd_request ${CMAKE_CURRENT_LIST_DIR}/vornd_request.cc vornd_core)
  foreach(t vornd_request_replay vornd_request_fuzz)
    if(TARGET ${t})
      target_compile_definitions(${t} PRIVATE
        VELMAR_DEMO_MODEL="${CMAKE_SOURCE_DIR}/models/demo.json")
    endif()
  endforeach()
endif()
