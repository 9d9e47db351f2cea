# Run by cpack on the staged files before it packs them: drops the compiler's notes (.comment, .note) from the
# programs and static libraries, and a library's debugging symbols, as Debian's own packaging does when it strips
# binaries.
file(GLOB_RECURSE programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
list(FILTER programs INCLUDE REGEX "(/bin/[^/]+|\\.a)$")
foreach(program IN LISTS programs)
  set(debug)
  if(program MATCHES "\\.a$")
    set(debug --strip-debug --enable-deterministic-archives)
  endif()
  execute_process(COMMAND ${CPACK_QUAVLO_STRIP} ${debug} --remove-section=.comment --remove-section=.note ${program}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "could not strip ${program}")
  endif()
endforeach()
