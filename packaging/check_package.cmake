# Checks a release package as a customer gets it:
#   cmake -DPACKAGE=<archive> -DNAME=<top folder> -DLIBRARY_NAME=<file> -DKXHOST_NAME=<file>
#         -DKIND=pe|elf -DOBJDUMP=<objdump> -DOBJCOPY=<objcopy> -DRUNNER=<emulator or empty> -DSAMPLESUITE=<exe>
#         -DWORK=<dir> -DSOURCE=<source tree> -DFILE_VERSION=<x.y.z.build> -DCOMMIT=<commit>
#         -DCOMPANY=<maker> -DCOPYRIGHT=<copyright line>
#         [-DSYMBOLS=<symbols zip> -DREADOBJ=<llvm-readobj> -DPDBUTIL=<llvm-pdbutil>
#          -DSYMBOLIZER=<llvm-symbolizer> -DWINDRES=<windres> -DDEPENDENCIES=<dependencies.txt>]
#         -P check_package.cmake
# Unpacks it into WORK and checks that it holds exactly its files, that they
# match SHA256SUMS, that both binaries carry no debug sections (an ELF binary
# names its debug file; a PE binary's debug directory names its PDB, and the
# symbol store SYMBOLS holds both, check_symbols.cmake), that README.txt
# names the version and commit; for a Windows package also that its text
# files have Windows line ends, that README.txt says whether the binaries
# are signed as they are, that the notices and the SBOM cover each
# component of DEPENDENCIES at its version, that each binary's version
# resource and hardening are as built (check_windows_binary.cmake), that the library
# exports and imports what it must, and that the packaged kxhost drives the
# packaged library through a whole install session on the sample suite with
# the same lines as the tests expect.
cmake_policy(VERSION 3.25)
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
set(expected "${KXHOST_NAME};${LIBRARY_NAME};CHANGELOG.txt;README.txt;SHA256SUMS;include/CustomHooks.h")
if(KIND STREQUAL "pe")
  list(APPEND expected THIRD-PARTY-NOTICES.txt sbom.spdx.json)
endif()
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

file(READ "${top}/README.txt" readme)
foreach(said "Version ${FILE_VERSION} " "commit ${COMMIT}." "${COPYRIGHT}")
  string(FIND "${readme}" "${said}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "README.txt does not say \"${said}\"")
  endif()
endforeach()

if(KIND STREQUAL "pe")
  # Text for Windows: every line ends in CR LF.
  foreach(text README.txt CHANGELOG.txt THIRD-PARTY-NOTICES.txt)
    # (Read as hex, one byte a token: file(READ) as text drops the CRs.)
    file(READ "${top}/${text}" content HEX)
    string(REGEX REPLACE "(..)" "\\1 " content "${content}")
    string(REPLACE "0d 0a " "" bare "${content}")
    if(bare MATCHES "(^| )0[ad] " OR NOT content MATCHES "0d 0a $")
      message(FATAL_ERROR "${text} has a line that does not end in CR LF")
    endif()
  endforeach()

  # Each component of the dependencies list that ships, at its version: in
  # the notices with its licence text, and in the SBOM.
  file(READ "${top}/THIRD-PARTY-NOTICES.txt" notices)
  file(READ "${top}/sbom.spdx.json" sbom)
  string(JSON spdx_version ERROR_VARIABLE err GET "${sbom}" spdxVersion)
  if(err OR NOT spdx_version STREQUAL "SPDX-2.3")
    message(FATAL_ERROR "sbom.spdx.json is not an SPDX 2.3 document: ${err}")
  endif()
  string(JSON count LENGTH "${sbom}" packages)
  set(sbom_packages)
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    string(JSON name GET "${sbom}" packages ${i} name)
    string(JSON version GET "${sbom}" packages ${i} versionInfo)
    list(APPEND sbom_packages "${name}=${version}")
    if(i GREATER 0)
      string(JSON purl GET "${sbom}" packages ${i} externalRefs 0 referenceLocator)
      list(APPEND sbom_purls "${purl}")
    endif()
  endforeach()
  if(NOT "CustomHooks=${FILE_VERSION}" IN_LIST sbom_packages)
    message(FATAL_ERROR "sbom.spdx.json does not describe CustomHooks ${FILE_VERSION}: ${sbom_packages}")
  endif()
  # What the notices must show of each shipped component's licence.
  set(licence_words
    "sqlite3=public-domain" "tinyxml=ZLIB" "g++-mingw-w64-i686-posix=GCC RUNTIME LIBRARY EXCEPTION"
    "mingw-w64-i686-dev=winpthreads")
  file(STRINGS "${DEPENDENCIES}" listed REGEX "^(source|package) ")
  foreach(entry IN LISTS licence_words)
    string(REGEX MATCH "^([^=]+)=(.*)$" _ "${entry}")
    set(package "${CMAKE_MATCH_1}")
    set(words "${CMAKE_MATCH_2}")
    set(version "")
    foreach(line IN LISTS listed)
      if(line MATCHES "^[a-z]+ +([^ ]+) +([^ ]+)" AND CMAKE_MATCH_1 STREQUAL package)
        set(version "${CMAKE_MATCH_2}")
      endif()
    endforeach()
    string(FIND "${notices}" "Debian package ${package} ${version}" at)
    string(TOUPPER "${notices}" upper)
    string(TOUPPER "${words}" words)
    string(FIND "${upper}" "${words}" has_words)
    if(version STREQUAL "" OR at EQUAL -1 OR has_words EQUAL -1)
      message(FATAL_ERROR "THIRD-PARTY-NOTICES.txt lacks ${package} ${version} or its licence (${words})")
    endif()
    string(REPLACE "+" "%2B" purl_version "${version}")
    string(REPLACE ":" "%3A" purl_version "${purl_version}")
    if(NOT "pkg:deb/debian/${package}@${purl_version}?distro=debian-12" IN_LIST sbom_purls)
      message(FATAL_ERROR "sbom.spdx.json lacks ${package} ${version}: [${sbom_purls}]")
    endif()
  endforeach()

  foreach(binary ${LIBRARY_NAME} ${KXHOST_NAME})
    execute_process(COMMAND ${CMAKE_COMMAND} -DBINARY=${top}/${binary} -DREADME=${top}/README.txt
                            -DREADOBJ=${READOBJ} -DWINDRES=${WINDRES} -DFILE_VERSION=${FILE_VERSION}
                            -DCOMMIT=${COMMIT} "-DCOMPANY=${COMPANY}" "-DCOPYRIGHT=${COPYRIGHT}"
                            -P ${CMAKE_CURRENT_LIST_DIR}/check_windows_binary.cmake
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${binary}: its version resource, hardening or signature statement is wrong")
    endif()
  endforeach()
endif()

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
