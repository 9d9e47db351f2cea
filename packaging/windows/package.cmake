# The Windows package: QuavloII-windows-x64.zip in the build directory, holding quavlo.exe and quavlo-cli.exe
# (stripped of their debugging information), a short readme, the license and the notices of the code of others
# that the programs contain, in a folder QuavloII.
#   cmake --build build-win64 --target package-windows
set(QUAVLO_PACKAGE_STAGE ${CMAKE_BINARY_DIR}/package-windows)
set(QUAVLO_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/QuavloII-windows-x64.zip)
add_custom_target(package-windows
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${QUAVLO_PACKAGE_STAGE} ${QUAVLO_PACKAGE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QUAVLO_PACKAGE_STAGE}/QuavloII
  COMMAND ${CMAKE_STRIP} -o ${QUAVLO_PACKAGE_STAGE}/QuavloII/quavlo.exe $<TARGET_FILE:quavlo>
  COMMAND ${CMAKE_STRIP} -o ${QUAVLO_PACKAGE_STAGE}/QuavloII/quavlo-cli.exe $<TARGET_FILE:quavlo-cli>
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/README.txt ${QUAVLO_PACKAGE_STAGE}/QuavloII/README.txt
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/LICENSE ${QUAVLO_PACKAGE_STAGE}/QuavloII/LICENSE.txt
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/THIRD-PARTY.txt
          ${QUAVLO_PACKAGE_STAGE}/QuavloII/THIRD-PARTY.txt
  COMMAND ${CMAKE_COMMAND} -E chdir ${QUAVLO_PACKAGE_STAGE} ${CMAKE_COMMAND} -E tar cf ${QUAVLO_PACKAGE_ZIP}
          --format=zip QuavloII
  DEPENDS quavlo quavlo-cli
  COMMENT "Packing QuavloII-windows-x64.zip"
  VERBATIM)

# The installer: QuavloII-setup.exe in the build directory, made by NSIS (makensis, Debian's nsis) from the same
# stripped programs and readme, with the icon the picture generator draws.
#   cmake --build build-win64 --target installer-windows
find_program(QUAVLO_MAKENSIS makensis)
if(QUAVLO_MAKENSIS)
  set(QUAVLO_INSTALLER_STAGE ${CMAKE_BINARY_DIR}/installer-windows)
  set(QUAVLO_INSTALLER ${CMAKE_BINARY_DIR}/QuavloII-setup.exe)
  add_custom_target(installer-windows
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${QUAVLO_INSTALLER_STAGE} ${QUAVLO_INSTALLER}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUAVLO_INSTALLER_STAGE}
    COMMAND ${CMAKE_STRIP} -o ${QUAVLO_INSTALLER_STAGE}/quavlo.exe $<TARGET_FILE:quavlo>
    COMMAND ${CMAKE_STRIP} -o ${QUAVLO_INSTALLER_STAGE}/quavlo-cli.exe $<TARGET_FILE:quavlo-cli>
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/README.txt ${QUAVLO_INSTALLER_STAGE}/README.txt
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/LICENSE ${QUAVLO_INSTALLER_STAGE}/LICENSE.txt
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/THIRD-PARTY.txt ${QUAVLO_INSTALLER_STAGE}/THIRD-PARTY.txt
    COMMAND ${QUAVLO_MAKENSIS} -V2 -INPUTCHARSET UTF8 -DVERSION=${PROJECT_VERSION} -DSTAGE=${QUAVLO_INSTALLER_STAGE}
            -DICON=${CMAKE_BINARY_DIR}/icons/quavlo.ico -DOUTFILE=${QUAVLO_INSTALLER}
            ${CMAKE_CURRENT_LIST_DIR}/installer.nsi
    DEPENDS quavlo quavlo-cli quavlo-ico
    COMMENT "Making QuavloII-setup.exe"
    VERBATIM)
endif()
