# quavlo-cli: dump, repack, header export and offline rendering of modules (CLI11 from libcli11-dev).
find_package(CLI11 CONFIG REQUIRED)
add_executable(quavlo-cli ${CMAKE_CURRENT_LIST_DIR}/quavlo_cli.cpp ${CMAKE_CURRENT_LIST_DIR}/cli_platform.cpp)
target_link_libraries(quavlo-cli PRIVATE quavlo_engine CLI11::CLI11)
