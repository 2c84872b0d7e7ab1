# Included on Windows: the DLLs and Qt plugins the two programs load, put
# beside them by WindowsDeploy.cmake both for the windows-zip target (a
# folder to unzip anywhere) and for `cmake --install`.
set(deploy_plugins
  platforms/qwindows.dll=$<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
  styles/qwindowsvistastyle.dll=$<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>
  sqldrivers/qsqlodbc.dll=$<TARGET_FILE:Qt6::QODBCDriverPlugin>
  sqldrivers/qsqlite.dll=$<TARGET_FILE:Qt6::QSQLiteDriverPlugin>)
# DLLs are looked for beside Qt's, libjpeg's, and the compiler's run-time libraries.
get_filename_component(jpeg_dir "${JPEG_LIBRARIES}" DIRECTORY)
set(deploy_dll_dirs "$<TARGET_FILE_DIR:Qt6::Core>" "${jpeg_dir}/../bin")
if(MINGW)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                  OUTPUT_VARIABLE runtime_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(runtime_dir "${runtime_dll}" DIRECTORY)
  list(APPEND deploy_dll_dirs "${runtime_dir}")
endif()
foreach(root IN LISTS CMAKE_FIND_ROOT_PATH)
  list(APPEND deploy_dll_dirs "${root}/bin" "${root}/lib")
endforeach()
# The programs' imports are read with objdump for MinGW's builds (cross-built
# or not), with dumpbin, CMake's default, for MSVC's (from its command prompt).
if(MINGW)
  find_program(BMP2JPG_OBJDUMP NAMES x86_64-w64-mingw32-objdump objdump REQUIRED)
endif()
# Lists inside one argument each: their separators kept out of the list of arguments.
string(REPLACE ";" "$<SEMICOLON>" deploy_plugins "${deploy_plugins}")
string(REPLACE ";" "$<SEMICOLON>" deploy_dll_dirs "${deploy_dll_dirs}")
set(deploy_arguments
  "-DPROGRAMS=$<TARGET_FILE:bmp2jpg>$<SEMICOLON>$<TARGET_FILE:bmp2jpg-batch>"
  "-DPLUGINS=${deploy_plugins}"
  "-DDLL_DIRS=${deploy_dll_dirs}"
  "-DOBJDUMP=${BMP2JPG_OBJDUMP}")

# windows-zip: bmp2jpg.exe and bmp2jpg-batch.exe with every DLL and Qt plugin
# they need, ready to unzip on a Windows machine.
set(zip_folder ${PROJECT_BINARY_DIR}/bmp2jpg-win64)
add_custom_target(windows-zip
  COMMAND ${CMAKE_COMMAND} ${deploy_arguments} -DFOLDER=${zip_folder} -DZIP=${zip_folder}.zip
          -P ${CMAKE_CURRENT_SOURCE_DIR}/WindowsDeploy.cmake
  VERBATIM)
add_dependencies(windows-zip bmp2jpg bmp2jpg-batch)

# The installed programs get the same DLLs and plugins in bin/.
set(deploy_command "${CMAKE_COMMAND}")
foreach(argument IN LISTS deploy_arguments)
  string(APPEND deploy_command " \"${argument}\"")
endforeach()
install(CODE "
  execute_process(COMMAND ${deploy_command}
                          \"-DFOLDER=\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\"
                          -P \"${CMAKE_CURRENT_SOURCE_DIR}/WindowsDeploy.cmake\"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR \"the DLLs and plugins of the installed programs could not be put beside them\")
  endif()")
