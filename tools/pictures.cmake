# The picture generator, the PNG helper and the artwork sheet.
set(QUAVLO_PICTURE_SOURCES ${PROJECT_SOURCE_DIR}/app/src/pictures)

# Draws glyphs.pcx and title.pcx from glyphs.txt and title.txt. After editing those, build the target
# quavlo-update-pictures and commit the regenerated .pcx files.
add_executable(quavlo-make-pictures ${CMAKE_CURRENT_LIST_DIR}/make_pictures.cpp)
add_custom_target(quavlo-update-pictures
  COMMAND quavlo-make-pictures ${QUAVLO_PICTURE_SOURCES}
  COMMENT "Regenerating the committed pictures from their sources"
  VERBATIM)
# The committed pictures must be exactly what their sources give.
add_test(NAME pictures_regenerate
         COMMAND quavlo-make-pictures --check ${QUAVLO_PICTURE_SOURCES} ${QUAVLO_PICTURE_SOURCES})

add_library(quavlo_png STATIC ${CMAKE_CURRENT_LIST_DIR}/png_write.cpp)
target_include_directories(quavlo_png PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quavlo-make-pictures PRIVATE quavlo_png)
if(CMAKE_CROSSCOMPILING)
  # stb is header-only (libstb-dev): a cross build takes a copy of the two headers it needs (writing here,
  # reading in the screen tests), not the host's whole include directory.
  find_path(QUAVLO_STB_HEADERS stb/stb_image_write.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  file(COPY ${QUAVLO_STB_HEADERS}/stb/stb_image_write.h ${QUAVLO_STB_HEADERS}/stb/stb_image.h
       DESTINATION ${CMAKE_BINARY_DIR}/stb/include/stb)
  target_include_directories(quavlo_png SYSTEM PUBLIC ${CMAKE_BINARY_DIR}/stb/include)
endif()
# The desktop icon at 32, 64, 128 and 256 pixels, drawn at build time (installed by packaging/). The Linux
# desktop's: a Windows build draws none.
if(NOT WIN32)
  set(QUAVLO_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
  set(QUAVLO_ICON_SIZES 32 64 128 256)
  set(QUAVLO_ICON_FILES)
  foreach(size ${QUAVLO_ICON_SIZES})
    list(APPEND QUAVLO_ICON_FILES ${QUAVLO_ICON_DIR}/quavlo-${size}.png)
  endforeach()
  add_custom_command(
    OUTPUT ${QUAVLO_ICON_FILES}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUAVLO_ICON_DIR}
    COMMAND quavlo-make-pictures --icons ${QUAVLO_PICTURE_SOURCES} ${QUAVLO_ICON_DIR}
    DEPENDS quavlo-make-pictures ${QUAVLO_PICTURE_SOURCES}/glyphs.txt
    COMMENT "Drawing the desktop icon"
    VERBATIM)
  add_custom_target(quavlo-icons ALL DEPENDS ${QUAVLO_ICON_FILES})
  # packaging/ installs them.
  set(QUAVLO_ICON_DIR ${QUAVLO_ICON_DIR} PARENT_SCOPE)
  set(QUAVLO_ICON_SIZES ${QUAVLO_ICON_SIZES} PARENT_SCOPE)
endif()

if(TARGET quavlo_pictures)
  # Renders the artwork sheet: quavlo-artwork <out.png> [zoom]. The target quavlo-artwork-sheet writes
  # artwork.png (and artwork-x3.png, enlarged) into the build directory.
  add_executable(quavlo-artwork ${CMAKE_CURRENT_LIST_DIR}/artwork.cpp)
  target_link_libraries(quavlo-artwork PRIVATE quavlo_runtime quavlo_pictures quavlo_png)
  add_custom_target(quavlo-artwork-sheet
    COMMAND quavlo-artwork ${CMAKE_BINARY_DIR}/artwork.png
    COMMAND quavlo-artwork ${CMAKE_BINARY_DIR}/artwork-x3.png 3
    VERBATIM)
  add_test(NAME artwork_sheet COMMAND quavlo-artwork ${CMAKE_CURRENT_BINARY_DIR}/artwork-test.png)
endif()
