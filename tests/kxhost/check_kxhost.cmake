# Runs kxhost against the built library on an empty machine and compares what
# it prints with the scenario's transcript; then checks its error handling.
#   cmake -DRUNNER=<emulator or empty> -DSAMPLESUITE=<exe> -DKXHOST=<exe> -DLIBRARY=<lib>
#         -DMACHINE=<dir> -DTRANSCRIPT=<file> -P check_kxhost.cmake
include(${CMAKE_CURRENT_LIST_DIR}/kxhost_machine.cmake)
reset_machine()

function(run_kxhost out_var rc_var)
  run_program(out rc ${KXHOST} ${ARGN})
  set(${out_var} "${out}" PARENT_SCOPE)
  set(${rc_var} "${rc}" PARENT_SCOPE)
endfunction()

run_kxhost(out rc --mode install --entry all --prop ${name_media_signature_property}=X
           --prop ${name_install_language_property}=${name_french_morocco_language} ${LIBRARY})
file(READ "${TRANSCRIPT}" expected)
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
reset_machine()
message(STATUS "kxhost checks passed")
