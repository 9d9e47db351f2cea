# The replayer library: its C API on its own, and what the library may call.
# The audio callback renders while the main loop reads the position: the ThreadSanitizer build checks that too.
if(TEST test_replay_api)
  set_tests_properties(test_replay_api PROPERTIES LABELS tsan)
endif()

if(TARGET quavlo_replay)
  add_test(NAME replay_library_symbols
           COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DLIBRARY=$<TARGET_FILE:quavlo_replay>
                   -P ${CMAKE_CURRENT_LIST_DIR}/replay/check_library_symbols.cmake)
endif()
