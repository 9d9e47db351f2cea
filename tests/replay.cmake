# The replayer: its suites run quavlo-cli and the example programs for the outputs they compare with.
if(TARGET test_replay AND TARGET quavlo-cli AND TARGET render_header AND TARGET two_songs)
  add_dependencies(test_replay quavlo-cli render_header two_songs)
  target_compile_definitions(test_replay PRIVATE QUAVLO_CLI="$<TARGET_FILE:quavlo-cli>"
                                                 QUAVLO_RENDER_HEADER="$<TARGET_FILE:render_header>"
                                                 QUAVLO_TWO_SONGS="$<TARGET_FILE:two_songs>")
  if(TARGET play_header)
    add_dependencies(test_replay play_header)
    target_compile_definitions(test_replay PRIVATE QUAVLO_PLAY_HEADER="$<TARGET_FILE:play_header>")
  endif()
  set_tests_properties(test_replay PROPERTIES TIMEOUT 900)
elseif(TARGET test_replay)
  # Without the programs it compares with, the suite has nothing to run against.
  set_target_properties(test_replay PROPERTIES EXCLUDE_FROM_ALL ON)
  set_tests_properties(test_replay PROPERTIES DISABLED ON)
endif()

if(TARGET quavlo_replay AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME replay_library_symbols
           COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DLIBRARY=$<TARGET_FILE:quavlo_replay>
                   -DHEADER=${CMAKE_SOURCE_DIR}/replay/quavlo_replay.h
                   -P ${CMAKE_CURRENT_LIST_DIR}/replay/check_library_symbols.cmake)
endif()

# The drop-in source is compiled by plain g++ and MinGW-w64, whatever this build's options: the plain build runs it.
find_program(QUAVLO_MINGW_CXX x86_64-w64-mingw32-g++-posix)
if(TARGET quavlo-cli AND NOT CMAKE_CROSSCOMPILING)
  set(mingw_cxx "")
  if(QUAVLO_MINGW_CXX)
    set(mingw_cxx ${QUAVLO_MINGW_CXX})
  endif()
  add_test(NAME replay_amalgamation
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/replay/check_amalgamation.sh ${CMAKE_SOURCE_DIR}
                   ${CMAKE_CURRENT_BINARY_DIR}/amalgamation $<TARGET_FILE:quavlo-cli> ${mingw_cxx})
  set_tests_properties(replay_amalgamation PROPERTIES LABELS slow TIMEOUT 600)
endif()

# The ways a game takes the replayer: installed (find_package, pkg-config) from a build of the replayer alone with
# the small mixer, whose size is checked, and added with add_subdirectory to a C project.
if(TARGET quavlo-cli AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME replay_consumers
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/replay/check_consumers.sh ${CMAKE_SOURCE_DIR}
                   ${CMAKE_CURRENT_BINARY_DIR}/consumers $<TARGET_FILE:quavlo-cli>)
  set_tests_properties(replay_consumers PROPERTIES LABELS slow TIMEOUT 900)
endif()

# The replayer as WebAssembly, built with emscripten and checked in node against quavlo-cli (skipped without them).
if(TARGET quavlo-cli AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME replay_wasm
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/replay/check_wasm.sh ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/wasm
                   $<TARGET_FILE:quavlo-cli>)
  set_tests_properties(replay_wasm PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
endif()
