# read_tool(VAR ARGS...): the output of a tool that must succeed, for the
# package checks (check_symbols.cmake, check_windows_binary.cmake).
function(read_tool var)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed:\n${err}")
  endif()
  set(${var} "${out}" PARENT_SCOPE)
endfunction()
