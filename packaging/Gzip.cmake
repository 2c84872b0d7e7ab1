# Compresses one file as Debian wants it: best compression, no name or time
# stored. cmake -DINPUT=<file> -DOUTPUT=<file.gz> -P Gzip.cmake
execute_process(COMMAND gzip -9 -n -c "${INPUT}" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "gzip ${INPUT} failed: ${result}")
endif()
