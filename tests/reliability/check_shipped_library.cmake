# Checks that the test-only fault switch of the platform boundary is in no
# shipped binary:
#   cmake -DNM=<nm> -DSHIPPED=<library>;<archive> -DFAULTS=<faults archive> -P check_shipped_library.cmake
# Every shipped binary must list the boundary's gate (so its symbols can be
# read at all) and no fsfaults name; the faults archive must list them (so
# the names looked for are the right ones).
function(symbols_of file out)
  execute_process(COMMAND ${NM} ${file} OUTPUT_VARIABLE dump ERROR_VARIABLE errors RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${file}: ${errors}")
  endif()
  set(${out} "${dump}" PARENT_SCOPE)
endfunction()

symbols_of(${FAULTS} dump)
foreach(name FailNthPlatformCall PlatformCallsSinceArmed)
  if(NOT dump MATCHES "fsfaults[0-9A-Za-z_]*${name}")
    message(FATAL_ERROR "${FAULTS} does not list fsfaults::${name}; the check looks for the wrong names")
  endif()
endforeach()

foreach(file IN LISTS SHIPPED)
  symbols_of(${file} dump)
  if(NOT dump MATCHES "fsplatform[0-9A-Za-z_]*PassGate")
    message(FATAL_ERROR "${file} lists no fsplatform::PassGate: its symbols cannot be checked")
  endif()
  if(dump MATCHES "fsfaults")
    string(REGEX MATCHALL "[^\n]*fsfaults[^\n]*" rows "${dump}")
    message(FATAL_ERROR "${file} holds the test-only fault switch:\n${rows}")
  endif()
  message(STATUS "${file}: no fault switch")
endforeach()
