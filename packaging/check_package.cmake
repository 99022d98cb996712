# Checks a release package as a customer gets it:
#   cmake -DPACKAGE=<archive> -DNAME=<top folder> -DLIBRARY_NAME=<file> -DKXHOST_NAME=<file>
#         -DKIND=pe|elf -DOBJDUMP=<objdump> -DOBJCOPY=<objcopy> -DRUNNER=<emulator or empty> -DSAMPLESUITE=<exe>
#         -DWORK=<dir> -DSOURCE=<source tree>
#         [-DSYMBOLS=<symbols zip> -DREADOBJ=<llvm-readobj> -DPDBUTIL=<llvm-pdbutil>
#          -DSYMBOLIZER=<llvm-symbolizer>] -P check_package.cmake
# Unpacks it into WORK and checks that it holds exactly its files, that they
# match SHA256SUMS, that both binaries carry no debug sections (an ELF binary
# names its debug file; a PE binary's debug directory names its PDB, and the
# symbol store SYMBOLS holds both, check_symbols.cmake), that the library
# exports and imports what it must, and that the packaged kxhost drives the
# packaged library through a whole install session on the sample suite with
# the same lines as the tests expect.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
if(NOT EXISTS "${PACKAGE}")
  message(FATAL_ERROR "no package ${PACKAGE} (scripts/package.sh makes it)")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${PACKAGE}" WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PACKAGE} cannot be unpacked")
endif()
set(top "${WORK}/${NAME}")

file(GLOB_RECURSE files RELATIVE "${top}" "${WORK}/*")
list(SORT files)
set(expected "${KXHOST_NAME};${LIBRARY_NAME};README.txt;SHA256SUMS;include/CustomHooks.h")
list(SORT expected)
if(NOT files STREQUAL expected)
  message(FATAL_ERROR "${PACKAGE} holds [${files}], expected [${expected}]")
endif()

file(STRINGS "${top}/SHA256SUMS" sums)
set(summed)
foreach(line IN LISTS sums)
  if(NOT line MATCHES "^([0-9a-f]+)  (.+)$")
    message(FATAL_ERROR "SHA256SUMS: unreadable line: ${line}")
  endif()
  file(SHA256 "${top}/${CMAKE_MATCH_2}" actual)
  if(NOT actual STREQUAL CMAKE_MATCH_1)
    message(FATAL_ERROR "SHA256SUMS: ${CMAKE_MATCH_2} does not match")
  endif()
  list(APPEND summed "${CMAKE_MATCH_2}")
endforeach()
list(APPEND summed SHA256SUMS)
list(SORT summed)
if(NOT summed STREQUAL expected)
  message(FATAL_ERROR "SHA256SUMS covers [${summed}], expected every other file of the package")
endif()

foreach(binary ${LIBRARY_NAME} ${KXHOST_NAME})
  execute_process(COMMAND ${OBJDUMP} -h "${top}/${binary}" OUTPUT_VARIABLE sections RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR sections MATCHES "\\.debug_")
    message(FATAL_ERROR "${binary} holds debug sections:\n${sections}")
  endif()
  if(KIND STREQUAL "pe")
    continue()
  endif()
  if(NOT sections MATCHES "\\.gnu_debuglink")
    message(FATAL_ERROR "${binary} is not stripped with a debug link:\n${sections}")
  endif()
  # The section holds the debug file's name, NUL-padded, then its CRC.
  execute_process(COMMAND ${OBJCOPY} --dump-section .gnu_debuglink=${WORK}/debuglink "${top}/${binary}"
                          ${WORK}/scratch RESULT_VARIABLE rc)
  file(STRINGS "${WORK}/debuglink" link LIMIT_COUNT 1)
  file(REMOVE "${WORK}/debuglink" "${WORK}/scratch")
  if(NOT rc EQUAL 0 OR NOT link STREQUAL "${binary}.debug")
    message(FATAL_ERROR "${binary} links to the debug file '${link}', expected ${binary}.debug")
  endif()
endforeach()

if(KIND STREQUAL "pe")
  execute_process(COMMAND ${CMAKE_COMMAND} -DSTORE=${SYMBOLS} -DBINARIES=${top}
                          -DNAMES=${LIBRARY_NAME},${KXHOST_NAME} -DFUNCTION=KXInstallerCustomHookProc
                          -DFUNCTION_SOURCE=src/hook/exports.cpp -DSOURCE=${SOURCE}
                          -DREADOBJ=${READOBJ} -DPDBUTIL=${PDBUTIL} -DSYMBOLIZER=${SYMBOLIZER}
                          -DWORK=${WORK}/symbols -P ${CMAKE_CURRENT_LIST_DIR}/check_symbols.cmake
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the symbol store does not match the packaged binaries")
  endif()
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -DLIBRARY=${top}/${LIBRARY_NAME} -DOBJDUMP=${OBJDUMP} -DKIND=${KIND}
                        -P ${SOURCE}/cmake/check_library_interface.cmake RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the packaged library's interface is wrong")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} "-DRUNNER=${RUNNER}" -DSAMPLESUITE=${SAMPLESUITE}
                        -DKXHOST=${top}/${KXHOST_NAME} -DLIBRARY=${top}/${LIBRARY_NAME}
                        -DMACHINE=${WORK}/machine -DTRANSCRIPT=${SOURCE}/tests/transcripts/sample_suite_install.txt
                        -P ${SOURCE}/tests/kxhost/check_sample_session.cmake RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the packaged kxhost and library did not run the sample suite session as expected")
endif()
message(STATUS "${NAME}: package checks passed")
