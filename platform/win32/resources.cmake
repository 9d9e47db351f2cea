# Windows resources of both programs: the icon (drawn at build time by the picture generator at every size
# Windows uses), the version information of the project's version and the manifest. quavlo_win32_resources(TARGET
# NAME DESCRIPTION) gives an executable its own; included from platform/ for Windows builds only.
set(QUAVLO_ICO ${CMAKE_BINARY_DIR}/icons/quavlo.ico)
if(CMAKE_CROSSCOMPILING)
  # The generator must run on the build machine: it is compiled there, from the same two sources.
  find_program(QUAVLO_HOST_CXX NAMES c++ g++ REQUIRED)
  set(QUAVLO_ICO_GENERATOR ${CMAKE_BINARY_DIR}/host/quavlo-make-pictures)
  add_custom_command(
    OUTPUT ${QUAVLO_ICO_GENERATOR}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
    COMMAND ${QUAVLO_HOST_CXX} -std=c++20 -O1 -o ${QUAVLO_ICO_GENERATOR} ${PROJECT_SOURCE_DIR}/tools/make_pictures.cpp
            ${PROJECT_SOURCE_DIR}/tools/png_write.cpp
    DEPENDS ${PROJECT_SOURCE_DIR}/tools/make_pictures.cpp ${PROJECT_SOURCE_DIR}/tools/png_write.cpp
            ${PROJECT_SOURCE_DIR}/tools/png_write.h
    COMMENT "Building the picture generator for the build machine"
    VERBATIM)
  set(QUAVLO_ICO_GENERATOR_DEPENDS ${QUAVLO_ICO_GENERATOR})
else()
  set(QUAVLO_ICO_GENERATOR $<TARGET_FILE:quavlo-make-pictures>)
  set(QUAVLO_ICO_GENERATOR_DEPENDS quavlo-make-pictures)
endif()
add_custom_command(
  OUTPUT ${QUAVLO_ICO}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons
  COMMAND ${QUAVLO_ICO_GENERATOR} --ico ${PROJECT_SOURCE_DIR}/app/src/pictures ${QUAVLO_ICO}
  DEPENDS ${QUAVLO_ICO_GENERATOR_DEPENDS} ${PROJECT_SOURCE_DIR}/app/src/pictures/glyphs.txt
  COMMENT "Drawing the Windows icon"
  VERBATIM)
add_custom_target(quavlo-ico DEPENDS ${QUAVLO_ICO})

function(quavlo_win32_resources target name description)
  set(QUAVLO_RC_NAME ${name})
  set(QUAVLO_RC_FILE ${name}.exe)
  set(QUAVLO_RC_DESCRIPTION ${description})
  set(QUAVLO_RC_ICON ${CMAKE_BINARY_DIR}/icons/quavlo.ico)
  set(QUAVLO_RC_MANIFEST ${CMAKE_BINARY_DIR}/resources/${name}.manifest)
  set(QUAVLO_RC_VERSION_DOTS ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
  set(QUAVLO_RC_VERSION_COMMAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/program.manifest.in ${QUAVLO_RC_MANIFEST} @ONLY)
  set(rc ${CMAKE_BINARY_DIR}/resources/${name}.rc)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/program.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${QUAVLO_RC_ICON};${QUAVLO_RC_MANIFEST}")
  target_sources(${target} PRIVATE ${rc})
  add_dependencies(${target} quavlo-ico)
endfunction()
