# Included on Windows builds: windows-installer makes the setup program with
# NSIS's makensis (Debian's nsis when cross-building) from what
# `cmake --install` puts in a scratch prefix, so the setup holds exactly the
# installed files, DLLs and plugins included.
find_program(BMP2JPG_MAKENSIS makensis)
if(NOT BMP2JPG_MAKENSIS)
  message(STATUS "makensis not found: no windows-installer target")
  return()
endif()

set(installer_stage ${PROJECT_BINARY_DIR}/installer/stage)
set(installer_lists ${PROJECT_BINARY_DIR}/installer/lists)
# Windows' file version has four numbers.
set(file_version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0)
if(PROJECT_VERSION_PATCH)
  set(file_version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
endif()
add_custom_target(windows-installer
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${installer_stage}
  COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${installer_stage}
  COMMAND ${CMAKE_COMMAND} -DSTAGE=${installer_stage} -DOUTPUT_DIR=${installer_lists}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/WindowsInstallerLists.cmake
  COMMAND ${BMP2JPG_MAKENSIS} -V2 -WX -DVERSION=${PROJECT_VERSION} -DFILE_VERSION=${file_version}
          -DICON=${PROJECT_SOURCE_DIR}/app/bmp2jpg.ico
          -DLISTS=${installer_lists} -DOUTFILE=${PROJECT_BINARY_DIR}/bmp2jpg-${PROJECT_VERSION}-win64-setup.exe
          ${CMAKE_CURRENT_SOURCE_DIR}/bmp2jpg.nsi
  COMMENT "Windows setup program bmp2jpg-${PROJECT_VERSION}-win64-setup.exe"
  VERBATIM)
add_dependencies(windows-installer bmp2jpg bmp2jpg-batch)
