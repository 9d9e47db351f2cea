# Fails when the replayer library calls anything that prints, touches files, reads the clock, ends the program or
# starts a thread. Usage: cmake -DNM=nm -DLIBRARY=libquavlo_replay.a -P check_library_symbols.cmake
execute_process(COMMAND ${NM} -u --format=just-symbols ${LIBRARY} OUTPUT_VARIABLE undefined RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} could not read ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" symbols "${undefined}")
set(forbidden
    fopen fopen64 fdopen freopen fwrite fputs fputc puts putchar printf fprintf vfprintf perror write open open64
    remove rename unlink exit _exit _Exit quick_exit abort system getenv time clock_gettime gettimeofday
    pthread_create stdout stderr _ZSt4cout _ZSt4cerr _ZNSt6thread15_M_start_threadESt10unique_ptrINS_6_StateESt14default_deleteIS1_EEPFvvE)
set(found "")
foreach(symbol ${symbols})
  list(FIND forbidden ${symbol} at)
  if(at GREATER -1)
    list(APPEND found ${symbol})
  endif()
endforeach()
list(REMOVE_DUPLICATES found)
list(LENGTH symbols count)
if(count EQUAL 0)
  message(FATAL_ERROR "no undefined symbols read from ${LIBRARY}")
endif()
if(found)
  message(FATAL_ERROR "the replayer library calls ${found}")
endif()
message(STATUS "none of ${count} external references prints, touches files, reads the clock, exits or starts a thread")
