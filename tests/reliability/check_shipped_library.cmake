# Checks that the tests' fault-injecting Env is in no shipped binary:
#   cmake -DNM=<nm> -DSHIPPED=<library>;<archive> -DFAULTS=<test binary> -P check_shipped_library.cmake
# Every shipped binary must list the platform's Env (so its symbols can be
# read at all) and no name of the fault-injecting Env; the test binary that
# uses it must list those names (so the names looked for are the right ones).
function(symbols_of file out)
  execute_process(COMMAND ${NM} ${file} OUTPUT_VARIABLE dump ERROR_VARIABLE errors RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${file}: ${errors}")
  endif()
  set(${out} "${dump}" PARENT_SCOPE)
endfunction()

# The mangled names of customhooks::fs::FaultEnv and of its FailNth.
set(fault_names "11customhooks2fs8FaultEnv" "8FaultEnv7FailNth")

symbols_of(${FAULTS} dump)
foreach(name IN LISTS fault_names)
  if(NOT dump MATCHES "${name}")
    message(FATAL_ERROR "${FAULTS} lists no ${name}; the check looks for the wrong names")
  endif()
endforeach()

foreach(file IN LISTS SHIPPED)
  symbols_of(${file} dump)
  if(NOT dump MATCHES "11customhooks2fs3Env7Default")
    message(FATAL_ERROR "${file} lists no customhooks::fs::Env::Default: its symbols cannot be checked")
  endif()
  foreach(name IN LISTS fault_names)
    if(dump MATCHES "${name}")
      string(REGEX MATCHALL "[^\n]*FaultEnv[^\n]*" rows "${dump}")
      message(FATAL_ERROR "${file} holds the test-only fault-injecting Env:\n${rows}")
    endif()
  endforeach()
  message(STATUS "${file}: no fault-injecting Env")
endforeach()
