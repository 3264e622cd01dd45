# Runs one example for ctest and passes only when it exits with status 0 and
# printed the line it prints once its own check succeeded.
#   QRX_COMMAND  the command, its arguments separated by "|"
#   QRX_PASS     a regular expression for that line
string(REPLACE "|" ";" _command "${QRX_COMMAND}")
execute_process(COMMAND ${_command} RESULT_VARIABLE _status OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
message("${_out}${_err}")
if(NOT _status EQUAL 0)
  message(FATAL_ERROR "the example exited with status ${_status}")
endif()
if(NOT _out MATCHES "${QRX_PASS}")
  message(FATAL_ERROR "the example did not print a line matching: ${QRX_PASS}")
endif()
