# Lays out the sample suite with samplesuite and drives a whole install
# session through the library with kxhost, as the demonstration does; what
# kxhost prints must be the scenario's transcript, with the machine's program
# files folder written as PROGRAM_FILES.
#   cmake -DRUNNER=<emulator or empty> -DSAMPLESUITE=<exe> -DKXHOST=<exe> -DLIBRARY=<lib>
#         -DMACHINE=<dir> -DTRANSCRIPT=<file> -P check_sample_session.cmake
include(${CMAKE_CURRENT_LIST_DIR}/kxhost_machine.cmake)
reset_machine()

lay_out_sample_suite()
run_program(out rc ${KXHOST} --mode install --entry all --props-file "${properties_file}" "${library}")
string(REPLACE "${programs}" "PROGRAM_FILES" out "${out}")
file(READ "${TRANSCRIPT}" expected)
if(NOT rc EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "kxhost exited ${rc} and printed:\n${out}\nexpected:\n${expected}")
endif()
reset_machine()
message(STATUS "sample suite session as expected")
