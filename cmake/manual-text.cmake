# Renders the manual page as plain text for the Windows zip: ASCII only, with
# CR LF line ends, so that every Notepad shows it as it is.
#
#   cmake -DGROFF=<groff> -DPAGE=<lorvex.1> -DOUTPUT=<lorvex.txt> -P manual-text.cmake
execute_process(COMMAND "${GROFF}" -man -Tascii -P-bcou "${PAGE}"
  OUTPUT_VARIABLE text RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT errors STREQUAL "")
  message(FATAL_ERROR "groff could not render ${PAGE}: ${result}\n${errors}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
