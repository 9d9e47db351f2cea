# The reference songs: quavlo-cli's dump, repack and render of each must match the expected outputs that an
# independent implementation produced. They live beside the repository; without them the test is skipped.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(TARGET quavlo-cli AND Python3_Interpreter_FOUND)
  # A cross-built quavlo-cli runs through the build's emulator (Wine): the songs must come out the same there.
  set(QUAVLO_REFERENCE_RUNNER)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(QUAVLO_REFERENCE_RUNNER --runner ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  add_test(NAME reference_songs
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/reference/check_reference.py
                   ${QUAVLO_REFERENCE_RUNNER} $<TARGET_FILE:quavlo-cli> ${CMAKE_SOURCE_DIR}/../shared/reference)
  set_tests_properties(reference_songs PROPERTIES SKIP_RETURN_CODE 77)
endif()

# The CLI suites run the built quavlo-cli.
foreach(suite test_cli)
  if(TARGET ${suite} AND TARGET quavlo-cli)
    add_dependencies(${suite} quavlo-cli)
    target_compile_definitions(${suite} PRIVATE QUAVLO_CLI="$<TARGET_FILE:quavlo-cli>")
  endif()
endforeach()
