# End-to-end runs of the real executables in a virtual X server: the window, its picture, a key press and the
# close button. The stand-in application exercises the SDL2 platform layer alone; the tracker itself runs the
# same checks once it is built. Labelled "e2e" (not run under the sanitizers).
find_program(QUAVLO_PYTHON3 python3)
if(TARGET quavlo_sdl AND QUAVLO_PYTHON3)
  add_executable(quavlo-e2e-mini ${CMAKE_CURRENT_SOURCE_DIR}/e2e/mini_app.cpp)
  target_link_libraries(quavlo-e2e-mini PRIVATE quavlo_sdl quavlo_runtime)

  set(QUAVLO_E2E_DRIVER ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_e2e.py)
  add_test(NAME e2e_platform_mini
           COMMAND ${QUAVLO_PYTHON3} ${QUAVLO_E2E_DRIVER} $<TARGET_FILE:quavlo-e2e-mini> --key-log "key %d"
                   --expect-log "mini: 1 key presses")
  set_tests_properties(e2e_platform_mini PROPERTIES LABELS e2e TIMEOUT 120 SKIP_RETURN_CODE 77)

  if(TARGET quavlo)
    # The key press types a note, so closing brings up the save question.
    add_test(NAME e2e_quavlo COMMAND ${QUAVLO_PYTHON3} ${QUAVLO_E2E_DRIVER} $<TARGET_FILE:quavlo>
                                     --expect-log "init sounds" --expect-log "deinit sounds" --close-answer discard)
    set_tests_properties(e2e_quavlo PROPERTIES LABELS e2e TIMEOUT 120 SKIP_RETURN_CODE 77)
  endif()
endif()

# The tracker on a desktop: started with a file, its picture behind modal boxes, at 2x on a large screen, through
# a renderer, and on Wayland (with weston). Labelled "e2e" (not run under the sanitizers).
if(TARGET quavlo AND TARGET quavlo_sdl AND QUAVLO_PYTHON3)
  add_test(NAME e2e_desktop COMMAND ${QUAVLO_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/desktop_session.py
                                    $<TARGET_FILE:quavlo>)
  set_tests_properties(e2e_desktop PROPERTIES LABELS e2e TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()

# The native Windows tracker under Wine (the cross build), in a folder and with files named in Cyrillic and
# Japanese: the command line, the window, typing, SAVE and LOAD through the common dialogs, the message box, the
# WAV button, the close, a start with a file, and quavlo-cli.exe with such names. The saved module is read back with the Linux quavlo-cli,
# QUAVLO_HOST_CLI (scripts/test.sh passes the plain build's). Labelled "e2e".
set(QUAVLO_HOST_CLI "" CACHE FILEPATH "quavlo-cli built for the build machine, for the Windows end-to-end test")
if(TARGET quavlo_win32 AND TARGET quavlo AND TARGET quavlo-cli AND QUAVLO_PYTHON3 AND QUAVLO_HOST_CLI
   AND CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME e2e_wine_session
           COMMAND ${QUAVLO_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/wine_session.py $<TARGET_FILE:quavlo>
                   ${QUAVLO_HOST_CLI} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:quavlo-cli>)
  # In a Wine prefix (and so a Wine server) of its own: windows of the suites run before it in the shared one
  # leave Wine's focus where keys and dialogs of the tracker do not arrive reliably.
  set_tests_properties(e2e_wine_session PROPERTIES LABELS e2e TIMEOUT 600 SKIP_RETURN_CODE 77 ENVIRONMENT "WINEPREFIX=")
endif()

# The Windows programs' resources read back from the files: the icon at every size, the version information and
# the manifest (plain Python, no Wine needed).
if(WIN32 AND TARGET quavlo AND TARGET quavlo-cli AND QUAVLO_PYTHON3)
  add_test(NAME windows_resources
           COMMAND ${QUAVLO_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/pe_resources.py ${PROJECT_VERSION}
                   $<TARGET_FILE:quavlo> $<TARGET_FILE:quavlo-cli>)
endif()

# The installer under Wine: silent installs for all users and for the current user, the registry, a song opened
# through the association, the silent uninstall. The installer is built first, by a test of its own.
if(TARGET installer-windows AND QUAVLO_PYTHON3 AND CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME installer_build COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target installer-windows)
  set_tests_properties(installer_build PROPERTIES FIXTURES_SETUP windows_installer LABELS e2e)
  add_test(NAME e2e_wine_install
           COMMAND ${QUAVLO_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/wine_install.py ${CMAKE_BINARY_DIR}/QuavloII-setup.exe
                   ${CMAKE_CROSSCOMPILING_EMULATOR} ${PROJECT_VERSION}
                   ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/all_effects.qvl)
  set_tests_properties(e2e_wine_install PROPERTIES LABELS e2e TIMEOUT 600 SKIP_RETURN_CODE 77
                       FIXTURES_REQUIRED windows_installer ENVIRONMENT "WINEPREFIX=")
endif()

# A MIDI keyboard made of a JACK or ALSA client (quavlo-midi-source), and the tracker playing and writing what it
# sends: through JACK on a private dummy server, and through the ALSA sequencer where the machine has one. The
# benchmark measures a MIDI note's way to the sound with the same client. Labelled "e2e".
if(TARGET PkgConfig::JACK AND TARGET PkgConfig::ALSA)
  add_executable(quavlo-midi-source ${CMAKE_CURRENT_SOURCE_DIR}/e2e/midi_source.cpp)
  target_link_libraries(quavlo-midi-source PRIVATE PkgConfig::JACK PkgConfig::ALSA Threads::Threads)
  if(TARGET quavlo AND TARGET quavlo-cli AND QUAVLO_PYTHON3)
    add_test(NAME e2e_midi
             COMMAND ${QUAVLO_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/midi_session.py $<TARGET_FILE:quavlo>
                     $<TARGET_FILE:quavlo-cli> $<TARGET_FILE:quavlo-midi-source>)
    set_tests_properties(e2e_midi PROPERTIES LABELS e2e TIMEOUT 300 SKIP_RETURN_CODE 77)
  endif()
endif()
