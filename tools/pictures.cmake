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

if(TARGET quavlo_pictures)
  # Renders the artwork sheet: quavlo-artwork <out.png> [zoom]. The target quavlo-artwork-sheet writes
  # artwork.png (and artwork-x3.png, enlarged) into the build directory.
  add_executable(quavlo-artwork ${CMAKE_CURRENT_LIST_DIR}/artwork.cpp)
  target_link_libraries(quavlo-artwork PRIVATE quavlo_engine quavlo_pictures quavlo_png)
  add_custom_target(quavlo-artwork-sheet
    COMMAND quavlo-artwork ${CMAKE_BINARY_DIR}/artwork.png
    COMMAND quavlo-artwork ${CMAKE_BINARY_DIR}/artwork-x3.png 3
    VERBATIM)
  add_test(NAME artwork_sheet COMMAND quavlo-artwork ${CMAKE_CURRENT_BINARY_DIR}/artwork-test.png)
endif()
