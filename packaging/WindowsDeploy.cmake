# cmake -P packaging/WindowsDeploy.cmake: puts beside the Windows programs the
# DLLs and Qt plugins they load, as Qt's deployment rules want them (DLLs
# beside the executables, each plugin in its kind's folder). The same rules
# make the zip and the installed copy.
# Given: PROGRAMS and PLUGINS (lists, plugins as <kind>/<file>=<path>),
# DLL_DIRS (where DLLs are found), OBJDUMP (for MinGW's builds), FOLDER.
# With ZIP: FOLDER is made anew with the programs in it, then zipped to ZIP;
# without: the programs are in FOLDER already (installed).
cmake_minimum_required(VERSION 3.21)

if(ZIP)
  file(REMOVE_RECURSE "${FOLDER}" "${ZIP}")
  file(MAKE_DIRECTORY "${FOLDER}")
  file(COPY ${PROGRAMS} DESTINATION "${FOLDER}")
endif()
set(plugin_files)
foreach(plugin IN LISTS PLUGINS)
  string(REPLACE "=" ";" parts "${plugin}")
  list(GET parts 0 target)
  list(GET parts 1 source)
  get_filename_component(kind "${target}" DIRECTORY)
  file(COPY "${source}" DESTINATION "${FOLDER}/${kind}")
  list(APPEND plugin_files "${source}")
endforeach()

# What is not found in DLL_DIRS comes with Windows (KERNEL32, ODBC32, ...).
if(OBJDUMP)
  set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM "windows+pe")
  set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL "objdump")
  set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${OBJDUMP}")
endif()

# CMake looks for a DLL by its name in lower case, which a case-sensitive file
# system may not have (Qt6Core.dll): those are looked for here and read in turn.
function(find_dll name result)
  foreach(dir IN LISTS DLL_DIRS)
    file(GLOB candidates "${dir}/*.dll" "${dir}/*.DLL")
    foreach(candidate IN LISTS candidates)
      get_filename_component(file_name "${candidate}" NAME)
      string(TOLOWER "${file_name}" file_name)
      if(file_name STREQUAL name)
        set(${result} "${candidate}" PARENT_SCOPE)
        return()
      endif()
    endforeach()
  endforeach()
  set(${result} "" PARENT_SCOPE)
endfunction()

set(executables ${PROGRAMS})
set(libraries ${plugin_files})
set(dlls)
set(system_dlls)
while(executables OR libraries)
  file(GET_RUNTIME_DEPENDENCIES
    EXECUTABLES ${executables}
    LIBRARIES ${libraries}
    DIRECTORIES ${DLL_DIRS}
    RESOLVED_DEPENDENCIES_VAR found
    UNRESOLVED_DEPENDENCIES_VAR not_found)
  list(APPEND dlls ${found})
  set(executables)
  set(libraries)
  foreach(name IN LISTS not_found)
    find_dll("${name}" path)
    if(NOT path)
      list(APPEND system_dlls "${name}")
    elseif(NOT path IN_LIST dlls)
      list(APPEND dlls "${path}")
      list(APPEND libraries "${path}")
    endif()
  endforeach()
endwhile()
list(REMOVE_DUPLICATES dlls)
list(REMOVE_DUPLICATES system_dlls)
list(LENGTH dlls count)
if(count EQUAL 0)
  message(FATAL_ERROR "no DLL of the programs was found in ${DLL_DIRS}")
endif()
file(COPY ${dlls} DESTINATION "${FOLDER}")

if(ZIP)
  get_filename_component(parent "${FOLDER}" DIRECTORY)
  get_filename_component(name "${FOLDER}" NAME)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${ZIP}" --format=zip "${name}"
                  WORKING_DIRECTORY "${parent}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot write ${ZIP}")
  endif()
endif()
message(STATUS "${FOLDER}: ${count} DLLs beside the programs; from Windows: ${system_dlls}")
