# manual-text.cmake - the manual page as plain text, for the Windows .zip:
#   cmake -DNROFF=... -DCOL=... -DIN=duzedevazu.1 -DOUT=duzedevazu.txt -P manual-text.cmake
execute_process(COMMAND ${CMAKE_COMMAND} -E env GROFF_NO_SGR=1 ${NROFF} -man -Tascii ${IN}
                COMMAND ${COL} -bx
                OUTPUT_FILE ${OUT} ERROR_QUIET RESULT_VARIABLE nResult)
if(NOT nResult EQUAL 0)
  message(FATAL_ERROR "nroff or col failed on ${IN}")
endif()
