# quavlo_pictures: the committed title.pcx and glyphs.pcx compiled into the program as byte arrays, so nothing is
# read from disk at run time. tools/pictures.cmake builds the generator that draws the .pcx files.
set(QUAVLO_PICTURES_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QUAVLO_PICTURES_CPP ${CMAKE_CURRENT_BINARY_DIR}/pictures_data.cpp)
add_custom_command(
  OUTPUT ${QUAVLO_PICTURES_CPP}
  COMMAND ${CMAKE_COMMAND} -DOUT=${QUAVLO_PICTURES_CPP} -DTITLE=${QUAVLO_PICTURES_DIR}/title.pcx
          -DGLYPHS=${QUAVLO_PICTURES_DIR}/glyphs.pcx -P ${QUAVLO_PICTURES_DIR}/embed.cmake
  DEPENDS ${QUAVLO_PICTURES_DIR}/title.pcx ${QUAVLO_PICTURES_DIR}/glyphs.pcx ${QUAVLO_PICTURES_DIR}/embed.cmake
  COMMENT "Embedding title.pcx and glyphs.pcx"
  VERBATIM)
add_library(quavlo_pictures STATIC ${QUAVLO_PICTURES_CPP})
target_include_directories(quavlo_pictures PUBLIC ${QUAVLO_PICTURES_DIR})
