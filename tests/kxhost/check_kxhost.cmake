# Runs kxhost against the built library on an empty machine and compares what
# it prints with the expected lines; then checks its error handling.
#   cmake -DRUNNER=<emulator or empty> -DKXHOST=<exe> -DLIBRARY=<lib> -DMACHINE=<dir>
#         -DEXPECTED=<file> -P check_kxhost.cmake
file(REMOVE_RECURSE "${MACHINE}")
file(MAKE_DIRECTORY "${MACHINE}/Common Files")
set(ENV{CommonProgramFiles} "${MACHINE}/Common Files")
set(ENV{CommonProgramFiles\(x86\)} "${MACHINE}/Common Files")
set(ENV{ProgramData} "${MACHINE}")

function(run_kxhost out_var rc_var)
  execute_process(COMMAND ${RUNNER} ${KXHOST} ${ARGN}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  string(REPLACE "\r\n" "\n" out "${out}")
  set(${out_var} "${out}${err}" PARENT_SCOPE)
  set(${rc_var} "${rc}" PARENT_SCOPE)
endfunction()

run_kxhost(out rc --mode install --entry all --prop mediaSignature=X --prop installLanguage=fr_MA
           ${LIBRARY})
file(READ "${EXPECTED}" expected)
if(NOT rc EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "kxhost exited ${rc} and printed:\n${out}\nexpected:\n${expected}")
endif()

run_kxhost(out rc --mode 7 --entry PrePayload ${LIBRARY})
if(NOT rc EQUAL 1 OR NOT out STREQUAL "Unsupported install mode specified.\nkxhost: PrePayload returned 3\n")
  message(FATAL_ERROR "unsupported install mode: exit ${rc}, output:\n${out}")
endif()

run_kxhost(out rc --quiet --entry SessionOpen --entry 99 ${LIBRARY})
if(NOT rc EQUAL 1 OR NOT out STREQUAL "kxhost: SessionOpen returned 0\nkxhost: entry 99 returned 4\n")
  message(FATAL_ERROR "quiet run: exit ${rc}, output:\n${out}")
endif()

run_kxhost(out rc ${MACHINE}/no-such-library)
if(NOT rc EQUAL 2 OR NOT out MATCHES "^kxhost: cannot load [^\n]*no-such-library: [^\n]+\n$")
  message(FATAL_ERROR "missing library: exit ${rc}, output:\n${out}")
endif()

run_kxhost(out rc --help)
if(NOT rc EQUAL 0 OR NOT out MATCHES "usage: kxhost")
  message(FATAL_ERROR "--help: exit ${rc}, output:\n${out}")
endif()
message(STATUS "kxhost checks passed")
