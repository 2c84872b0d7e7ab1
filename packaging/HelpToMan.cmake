# Writes a man page of bmp2jpg-batch from its own --help text, so the two
# never disagree: cmake -DPROGRAM=<exe> -DVERSION=<v> -DOUTPUT=<file>
# [-DLOCALE=zh_CN.UTF-8] -P HelpToMan.cmake. LOCALE picks the language the
# program speaks (default C: English, whatever the build machine's locale).
if(NOT LOCALE)
  set(LOCALE C)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LC_ALL --unset=LC_MESSAGES --unset=LANGUAGE LANG=${LOCALE}
                        "${PROGRAM}" --help
                OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed: ${result}")
endif()
# The core count of the machine that built the page is nobody else's; the
# Chinese help may break its line between any two characters.
string(REGEX REPLACE ",[ \n]+[0-9]+[ \n]+here\\)" ")" help "${help}")
string(REGEX REPLACE "，[ \n]*本[ \n]*机[ \n]*为[ \n]*[0-9]+[ \n]*）" "）" help "${help}")
# roff: a backslash is written \e; a line may not start with '.' or '\''.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
if(LOCALE MATCHES "^zh")
  set(summary "把 BAC1 表中的 BMP 图片就地转换为 JPEG")
  set(manual "用户命令")
else()
  set(summary "convert the BMP pictures of table BAC1 to JPEG, in place")
  set(manual "User Commands")
endif()
file(WRITE "${OUTPUT}"
  ".TH BMP2JPG-BATCH 1 \"\" \"bmp2jpg ${VERSION}\" \"${manual}\"\n"
  ".SH NAME\n"
  "bmp2jpg-batch \\- ${summary}\n"
  ".SH DESCRIPTION\n"
  ".nf\n"
  "${help}"
  ".fi\n")
