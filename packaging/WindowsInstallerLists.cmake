# cmake -P packaging/WindowsInstallerLists.cmake: writes, for bmp2jpg.nsi,
# the files of the installed tree STAGE as NSIS commands in OUTPUT_DIR:
# install.nsh copies each one into $INSTDIR, uninstall.nsh deletes each one
# and then each folder deepest first, and size.nsh defines SIZE_KB, their size.
cmake_minimum_required(VERSION 3.21)

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${STAGE}" "${STAGE}/*")
list(SORT files)
if(NOT files)
  message(FATAL_ERROR "nothing installed in ${STAGE}")
endif()

set(install "")
set(uninstall "")
set(folders "")
set(current_folder "-")
set(bytes 0)
foreach(file IN LISTS files)
  # Names are ours; anything NSIS would read as a variable or a quote is refused.
  if(file MATCHES "[\"$`]")
    message(FATAL_ERROR "an installed file name NSIS cannot quote: ${file}")
  endif()
  get_filename_component(folder "${file}" DIRECTORY)
  string(REPLACE "/" "\\" windows_file "${file}")
  string(REPLACE "/" "\\" windows_folder "${folder}")
  if(NOT folder STREQUAL current_folder)
    set(current_folder "${folder}")
    string(APPEND install "SetOutPath \"$INSTDIR\\${windows_folder}\"\n")
    # Every folder up to the top, so that each is removed once empty.
    while(folder AND NOT folder IN_LIST folders)
      list(APPEND folders "${folder}")
      get_filename_component(folder "${folder}" DIRECTORY)
    endwhile()
  endif()
  string(APPEND install "File \"${STAGE}/${file}\"\n")
  string(APPEND uninstall "Delete \"$INSTDIR\\${windows_file}\"\n")
  file(SIZE "${STAGE}/${file}" size)
  math(EXPR bytes "${bytes} + ${size}")
endforeach()

# Reverse order of the sorted names puts every folder before its parent.
list(SORT folders)
list(REVERSE folders)
foreach(folder IN LISTS folders)
  string(REPLACE "/" "\\" windows_folder "${folder}")
  string(APPEND uninstall "RMDir \"$INSTDIR\\${windows_folder}\"\n")
endforeach()

math(EXPR kib "(${bytes} + 1023) / 1024")
file(MAKE_DIRECTORY "${OUTPUT_DIR}")
file(WRITE "${OUTPUT_DIR}/install.nsh" "${install}")
file(WRITE "${OUTPUT_DIR}/uninstall.nsh" "${uninstall}")
file(WRITE "${OUTPUT_DIR}/size.nsh" "!define SIZE_KB ${kib}\n")
