# SPDX-License-Identifier: MIT
# One manual page: scdoc's roff, checked by troff with every warning on, then compressed
# without a time stamp (gzip -n), so that packages are reproducible.
#   cmake -DSCDOC=... -DGROFF=... -DINPUT=page.8.scd -DOUTPUT=page.8.gz -P manpage.cmake
string(REGEX REPLACE "\\.gz$" "" roff ${OUTPUT})
execute_process(COMMAND ${SCDOC} INPUT_FILE ${INPUT} OUTPUT_FILE ${roff}
  ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
  message(FATAL_ERROR "scdoc: ${INPUT}: ${err}")
endif()
if(GROFF)
  execute_process(COMMAND ${GROFF} -man -t -ww -z -Tutf8 ${roff}
    ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "troff warns about ${INPUT}:\n${err}")
  endif()
endif()
execute_process(COMMAND gzip -9 -n -c ${roff} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${roff}")
endif()
