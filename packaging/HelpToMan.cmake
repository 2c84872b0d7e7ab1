# Writes the man page of bmp2jpg-batch from its own --help text, so the two
# never disagree: cmake -DPROGRAM=<exe> -DVERSION=<v> -DOUTPUT=<file> -P HelpToMan.cmake
execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed: ${result}")
endif()
# The core count of the machine that built the page is nobody else's.
string(REGEX REPLACE ",[ \n]+[0-9]+[ \n]+here\\)" ")" help "${help}")
# roff: a backslash is written \e; a line may not start with '.' or '\''.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
file(WRITE "${OUTPUT}"
  ".TH BMP2JPG-BATCH 1 \"\" \"bmp2jpg ${VERSION}\" \"User Commands\"\n"
  ".SH NAME\n"
  "bmp2jpg-batch \\- convert the BMP pictures of table BAC1 to JPEG, in place\n"
  ".SH DESCRIPTION\n"
  ".nf\n"
  "${help}"
  ".fi\n")
