# Fails when the replayer library calls anything that prints, touches files, reads the clock, ends the program or
# starts a thread. Usage: cmake -DNM=nm -DLIBRARY=libquavlo_replay.a -P check_library_symbols.cmake
execute_process(COMMAND ${NM} -u --format=just-symbols ${LIBRARY} OUTPUT_VARIABLE undefined RESULT_VARIABLE failed)
if(failed OR NOT undefined MATCHES "memcpy")
  message(FATAL_ERROR "${NM} read no external references from ${LIBRARY}")
endif()
set(forbidden "fopen|fopen64|fdopen|freopen|fwrite|fputs|fputc|puts|putchar|printf|fprintf|vfprintf|perror|write|open"
              "|open64|remove|rename|unlink|exit|_exit|_Exit|quick_exit|abort|system|getenv|time|clock_gettime"
              "|gettimeofday|pthread_create|stdout|stderr|_ZSt4cout|_ZSt4cerr|_ZNSt6thread15_M_start_thread[A-Za-z0-9_]*")
string(JOIN "" forbidden ${forbidden})
string(REGEX MATCHALL "(^|\n)(${forbidden})(\n|$)" found "${undefined}")
if(found)
  string(REPLACE "\n" " " found "${found}")
  message(FATAL_ERROR "the replayer library calls ${found}")
endif()
