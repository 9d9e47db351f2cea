# quavlo-cli: dump, repack, header export and offline rendering of modules (CLI11 from libcli11-dev).
if(CMAKE_CROSSCOMPILING)
  # CLI11 is header-only: a cross build takes a copy of its headers alone, so that no other header of the host
  # comes onto the target's include path.
  find_path(QUAVLO_CLI11_HEADERS CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  file(COPY ${QUAVLO_CLI11_HEADERS}/CLI DESTINATION ${CMAKE_BINARY_DIR}/cli11/include)
  add_library(quavlo_cli11 INTERFACE)
  target_include_directories(quavlo_cli11 SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/cli11/include)
  add_library(CLI11::CLI11 ALIAS quavlo_cli11)
else()
  find_package(CLI11 CONFIG REQUIRED)
endif()
# The standard-output routing of the log is the one piece of the CLI that differs between POSIX and Windows.
if(WIN32)
  set(QUAVLO_CLI_STDIO ${CMAKE_CURRENT_LIST_DIR}/cli_stdio_win32.cpp)
else()
  set(QUAVLO_CLI_STDIO ${CMAKE_CURRENT_LIST_DIR}/cli_stdio_posix.cpp)
endif()
add_executable(quavlo-cli ${CMAKE_CURRENT_LIST_DIR}/quavlo_cli.cpp ${QUAVLO_CLI_STDIO})
target_link_libraries(quavlo-cli PRIVATE quavlo_runtime CLI11::CLI11)
target_compile_definitions(quavlo-cli PRIVATE QUAVLO_VERSION="${PROJECT_VERSION}")
if(COMMAND quavlo_win32_resources)
  quavlo_win32_resources(quavlo-cli quavlo-cli "QuavloII command-line companion")
endif()
