# Brings a translation file up to date with the texts the sources mark, as
# lupdate does: new texts unfinished, texts gone marked vanished, no source
# locations (they would change with every edit).
# cmake -DLUPDATE=<lupdate> -DROOT=<source tree> -DTS=<file.ts> [-DDROP_VANISHED=ON] -P Lupdate.cmake
set(options -locations none)
if(DROP_VANISHED)
  list(APPEND options -no-obsolete)
endif()
# The batch command's texts, and the ones job/ and data/ mark for it.
execute_process(COMMAND "${LUPDATE}" -silent ${options} batch job data -ts "${TS}"
                WORKING_DIRECTORY "${ROOT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lupdate failed: ${result}")
endif()
