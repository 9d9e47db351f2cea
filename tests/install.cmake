# `cmake --install` into a scratch prefix: programs, desktop entry, MIME type, icon and manual pages (and the
# .deb, where dpkg-deb is at hand).
find_program(QUAVLO_PYTHON3 python3)
if(TARGET quavlo AND TARGET quavlo-cli AND TARGET quavlo-icons AND QUAVLO_PYTHON3)
  add_test(NAME install_layout COMMAND ${QUAVLO_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/install_check.py
                                       ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
  set_tests_properties(install_layout PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()
