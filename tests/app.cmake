# The screen tests write and read PNG pictures.
if(TARGET test_app_screen AND TARGET quavlo_png)
  target_link_libraries(test_app_screen PRIVATE quavlo_png)
endif()

# A whole session with the real tracker in a virtual X server: typing, play and stop, save and load through the
# zenity dialogs, NEW, the WAV button, the C header export. Labelled "e2e" (not run under the sanitizers).
find_program(QUAVLO_PYTHON3 python3)
if(TARGET quavlo AND TARGET quavlo_sdl AND TARGET quavlo-cli AND QUAVLO_PYTHON3)
  add_test(NAME e2e_app_session
           COMMAND ${QUAVLO_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/app_session.py $<TARGET_FILE:quavlo>
                   $<TARGET_FILE:quavlo-cli>)
  set_tests_properties(e2e_app_session PROPERTIES LABELS e2e TIMEOUT 300 SKIP_RETURN_CODE 77)
  # The save question before NEW and closing, undo and redo of a paste, the grid after a stop and Ctrl+F1.
  add_test(NAME e2e_keep_work
           COMMAND ${QUAVLO_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/keep_work.py $<TARGET_FILE:quavlo>
                   $<TARGET_FILE:quavlo-cli>)
  set_tests_properties(e2e_keep_work PROPERTIES LABELS e2e TIMEOUT 300 SKIP_RETURN_CODE 77)
  # SIGTERM, SIGINT and SIGHUP during a WAV capture with unsaved changes: exit 0, no question, a finished file.
  add_test(NAME e2e_signals
           COMMAND ${QUAVLO_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/signals_session.py $<TARGET_FILE:quavlo>
                   $<TARGET_FILE:quavlo-cli>)
  set_tests_properties(e2e_signals PROPERTIES LABELS e2e TIMEOUT 300 SKIP_RETURN_CODE 77)
  # The X server ends under a WAV capture: the tracker logs it and ends with status 1, the capture finished.
  add_test(NAME e2e_display_lost
           COMMAND ${QUAVLO_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/display_lost.py $<TARGET_FILE:quavlo>
                   $<TARGET_FILE:quavlo-cli>)
  set_tests_properties(e2e_display_lost PROPERTIES LABELS e2e TIMEOUT 120 SKIP_RETURN_CODE 77)
  # The help screen, edit step, note cut and transposes with undo, SAVE refused in its overwrite question, and the
  # order strip following the entry being played.
  add_test(NAME e2e_editing_aids
           COMMAND ${QUAVLO_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/editing_aids.py $<TARGET_FILE:quavlo>
                   $<TARGET_FILE:quavlo-cli>)
  set_tests_properties(e2e_editing_aids PROPERTIES LABELS e2e TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()

# The editor, the file commands and the sound as played run against the live audio thread, and MIDI's queues between
# threads: the ThreadSanitizer build checks them too.
foreach(suite test_app_editor test_app_files test_app_lifecycle test_app_undo test_app_soak_posix test_app_midi
              test_midi test_app_sound)
  if(TARGET ${suite})
    set_tests_properties(${suite} PROPERTIES LABELS tsan)
  endif()
endforeach()

# --midi list prints the MIDI ports the tracker would connect (or says there are none) and exits with status 0: on
# Linux, and on Windows under Wine, where there is no MIDI device.
if(TARGET quavlo)
  add_test(NAME app_midi_list COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:quavlo>
                                      "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}" -P
                                      ${CMAKE_CURRENT_SOURCE_DIR}/e2e/midi_list_check.cmake)
endif()
