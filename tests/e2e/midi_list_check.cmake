# Runs "PROGRAM --midi list" (through EMULATOR when one is given, as Wine for the Windows build) and expects exit
# status 0 and a line about MIDI input ports: the ports, "No MIDI input ports (...)" or "No MIDI input: ...".
#   cmake -DPROGRAM=quavlo [-DEMULATOR=wine-run.sh] -P midi_list_check.cmake
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --midi list RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE err TIMEOUT 120)
message(STATUS "--midi list: status ${status}\n${out}${err}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "--midi list ended with status ${status}")
endif()
if(NOT out MATCHES "^(MIDI input ports \\(|No MIDI input)")
  message(FATAL_ERROR "--midi list printed no list of MIDI input ports")
endif()
