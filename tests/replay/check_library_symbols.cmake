# The replayer library as a program links it: it defines no global symbol but the qvl_replay_ functions, all of
# those the header declares; it needs no C++ runtime and no thread library; and it calls nothing that prints,
# touches files, reads the clock, ends the program or starts a thread.
# Usage: cmake -DNM=nm -DLIBRARY=libquavlo_replay.a -DHEADER=quavlo_replay.h -P check_library_symbols.cmake
cmake_minimum_required(VERSION 3.24)
execute_process(COMMAND ${NM} -g --defined-only --format=just-symbols ${LIBRARY} OUTPUT_VARIABLE defined
                RESULT_VARIABLE failed)
execute_process(COMMAND ${NM} -u --format=just-symbols ${LIBRARY} OUTPUT_VARIABLE undefined)
if(failed OR NOT defined MATCHES "qvl_replay_open")
  message(FATAL_ERROR "${NM} read no symbols from ${LIBRARY}")
endif()

string(REGEX REPLACE "[^\n]*:\n" "" defined "${defined}") # the archive's member names
string(REGEX MATCHALL "[^\n]+" defined "${defined}")
set(foreign)
foreach(symbol ${defined})
  if(NOT symbol MATCHES "^qvl_replay_[a-z0-9_]+$")
    list(APPEND foreign ${symbol})
  endif()
endforeach()
if(foreign)
  message(FATAL_ERROR "the replayer library defines global symbols outside qvl_replay_: ${foreign}")
endif()
file(STRINGS ${HEADER} declarations REGEX "^[a-z].*[ *]qvl_replay_[a-z0-9_]+\\(")
foreach(line ${declarations})
  string(REGEX REPLACE ".*[ *](qvl_replay_[a-z0-9_]+)\\(.*" "\\1" name "${line}")
  if(NOT name IN_LIST defined)
    message(FATAL_ERROR "the replayer library does not define ${name}")
  endif()
endforeach()

# Sanitizer builds call their runtime; everything else may call the C library and libm only.
string(REGEX REPLACE "(^|\n)__(asan|ubsan|tsan|sanitizer)[A-Za-z0-9_]*" "" undefined "${undefined}")
set(forbidden "fopen|fopen64|fdopen|freopen|fwrite|fputs|fputc|puts|putchar|printf|fprintf|vfprintf|perror|write|open"
              "|open64|remove|rename|unlink|exit|_exit|_Exit|quick_exit|abort|system|getenv|time|clock_gettime"
              "|gettimeofday|pthread_[a-z_]+|stdout|stderr|_Z[A-Za-z0-9_]*|__cxa_[a-z_]+|__gxx_personality_v0"
              "|_Unwind_[A-Za-z_]+|__atomic_[a-z0-9_]+")
string(JOIN "" forbidden ${forbidden})
string(REGEX MATCHALL "(^|\n)(${forbidden})(\n|$)" found "${undefined}")
if(found)
  string(REPLACE "\n" " " found "${found}")
  message(FATAL_ERROR "the replayer library calls ${found}")
endif()
list(LENGTH defined count)
message(STATUS "${LIBRARY}: ${count} global symbols, all qvl_replay_; no C++ runtime, no thread library")
