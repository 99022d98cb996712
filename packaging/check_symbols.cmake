# Checks the Windows release's symbol store against the packaged binaries:
#   cmake -DSTORE=<symbols zip> -DBINARIES=<dir holding the packaged binaries>
#         -DNAMES=<binary file names, comma-separated> -DFUNCTION=<an export of the first>
#         -DFUNCTION_SOURCE=<source file defining it> -DSOURCE=<source tree>
#         -DREADOBJ=<llvm-readobj> -DPDBUTIL=<llvm-pdbutil> -DSYMBOLIZER=<llvm-symbolizer>
#         -DWORK=<dir> -P check_symbols.cmake
# What a debugger does with a crash dump: from each binary's header its time
# stamp and image size, from its debug directory the PDB's name, GUID and age;
# the store must hold the binary under <name>/<time stamp><image size>/ and a
# PDB with that GUID and age under <pdb>/<GUID><age>/, and nothing else. Then
# an address inside FUNCTION, taken from the first binary's exports, must
# resolve through the store's PDB to FUNCTION and a line of its body in
# FUNCTION_SOURCE, and must not resolve to that line without the PDB.
# Each PDB must also show the stack protector's check linked in, and name
# no folder of the machine that built it: every path it holds (object files,
# archives, source files) is under /CustomHooks-<version>/ (the sources and
# build folder), /win-deps/ (the dependencies' sources) or /usr/ (the
# system's headers and libraries).
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/store")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${STORE}" WORKING_DIRECTORY "${WORK}/store" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${STORE} cannot be unpacked")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/read_tool.cmake)

# field(VAR TEXT NAME): the value of the first "NAME: value" line of TEXT.
function(field var text name)
  if(NOT text MATCHES "\n *${name}: ([^\n]*)")
    message(FATAL_ERROR "no ${name} in:\n${text}")
  endif()
  set(${var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# Hex digits without 0x, upper or lower case.
function(hex var value case)
  math(EXPR n "${value}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${n}" 2 -1 n)
  string(TO${case} "${n}" n)
  set(${var} "${n}" PARENT_SCOPE)
endfunction()

string(REPLACE "," ";" NAMES "${NAMES}")
set(expected_files)
foreach(name IN LISTS NAMES)
  set(binary "${BINARIES}/${name}")
  read_tool(headers ${READOBJ} --file-headers "${binary}")
  field(stamp "${headers}" TimeDateStamp)
  field(size "${headers}" SizeOfImage)
  if(NOT stamp MATCHES "\\(0x([0-9A-Fa-f]+)\\)")
    message(FATAL_ERROR "${name}: unreadable time stamp ${stamp}")
  endif()
  hex(stamp "0x${CMAKE_MATCH_1}" UPPER)
  string(LENGTH "${stamp}" length)
  while(length LESS 8)
    string(PREPEND stamp 0)
    math(EXPR length "${length} + 1")
  endwhile()
  hex(size "${size}" LOWER)
  set(stored "${name}/${stamp}${size}/${name}")
  if(NOT EXISTS "${WORK}/store/${stored}")
    message(FATAL_ERROR "the store has no ${stored}, the key of the packaged ${name}")
  endif()
  file(SHA256 "${binary}" packaged)
  file(SHA256 "${WORK}/store/${stored}" kept)
  if(NOT packaged STREQUAL kept)
    message(FATAL_ERROR "the store's ${stored} is not the packaged ${name}")
  endif()

  read_tool(debug ${READOBJ} --coff-debug-directory "${binary}")
  field(pdb "${debug}" PDBFileName)
  field(guid_bytes "${debug}" PDBGUID)
  field(age "${debug}" PDBAge)
  get_filename_component(stem "${name}" NAME_WE)
  if(NOT pdb STREQUAL "${stem}.pdb")
    message(FATAL_ERROR "${name} names the PDB '${pdb}', expected ${stem}.pdb without a folder")
  endif()
  # The GUID's text form: its first three fields are stored little-endian.
  string(REGEX MATCHALL "[0-9A-F][0-9A-F]" b "${guid_bytes}")
  list(LENGTH b count)
  if(NOT count EQUAL 16)
    message(FATAL_ERROR "${name}: unreadable PDB GUID ${guid_bytes}")
  endif()
  list(GET b 3 2 1 0 5 4 7 6 8 9 10 11 12 13 14 15 ordered)
  string(REPLACE ";" "" guid "${ordered}")
  hex(age_hex "${age}" LOWER)
  set(stored_pdb "${pdb}/${guid}${age_hex}/${pdb}")
  if(NOT EXISTS "${WORK}/store/${stored_pdb}")
    message(FATAL_ERROR "the store has no ${stored_pdb}, the PDB ${name} names")
  endif()
  read_tool(summary ${PDBUTIL} dump -summary "${WORK}/store/${stored_pdb}")
  field(pdb_guid "${summary}" GUID)
  field(pdb_age "${summary}" Age)
  string(REGEX REPLACE "[{}-]" "" pdb_guid "${pdb_guid}")
  if(NOT pdb_guid STREQUAL guid OR NOT pdb_age STREQUAL age)
    message(FATAL_ERROR "${stored_pdb} is GUID ${pdb_guid} age ${pdb_age}; ${name} wants ${guid} age ${age}")
  endif()
  read_tool(publics ${PDBUTIL} dump -publics "${WORK}/store/${stored_pdb}")
  if(NOT publics MATCHES "`___stack_chk_fail`")
    message(FATAL_ERROR "${stored_pdb}: no ___stack_chk_fail, ${name} is built without the stack protector")
  endif()
  read_tool(paths ${PDBUTIL} dump -modules -files "${WORK}/store/${stored_pdb}")
  # Module and object names are quoted, `...`; source files follow their checksum, "(MD5: ...) ".
  string(REGEX MATCHALL "(`|\\) )/[^`\n]*" named "${paths}")
  list(LENGTH named named_count)
  if(named_count EQUAL 0)
    message(FATAL_ERROR "${stored_pdb} names no path:\n${paths}")
  endif()
  foreach(path IN LISTS named)
    string(REGEX REPLACE "^(`|\\) )" "" path "${path}")
    if(NOT path MATCHES "^/(CustomHooks-[0-9.]+|win-deps|usr)/")
      message(FATAL_ERROR "${stored_pdb} names ${path}, a folder of the machine that built it")
    endif()
  endforeach()
  list(APPEND expected_files "${stored}" "${stored_pdb}")
  message(STATUS "${name}: ${stored}, ${stored_pdb}")
endforeach()
file(GLOB_RECURSE files RELATIVE "${WORK}/store" "${WORK}/store/*")
list(SORT files)
list(SORT expected_files)
if(NOT files STREQUAL expected_files)
  message(FATAL_ERROR "the store holds [${files}], expected [${expected_files}]")
endif()

# A crash address inside FUNCTION, symbolised as a debugger would: the binary
# and its PDB from the store, side by side.
list(GET NAMES 0 name)
get_filename_component(stem "${name}" NAME_WE)
file(GLOB binary "${WORK}/store/${name}/*/${name}")
file(GLOB pdb "${WORK}/store/${stem}.pdb/*/${stem}.pdb")
file(MAKE_DIRECTORY "${WORK}/crash")
file(COPY ${binary} ${pdb} DESTINATION "${WORK}/crash")
read_tool(headers ${READOBJ} --file-headers "${WORK}/crash/${name}")
field(base "${headers}" ImageBase)
read_tool(exports ${READOBJ} --coff-exports "${WORK}/crash/${name}")
if(NOT exports MATCHES "Name: ${FUNCTION}\n *RVA: (0x[0-9A-Fa-f]+)")
  message(FATAL_ERROR "${name} does not export ${FUNCTION}:\n${exports}")
endif()
math(EXPR address "${base} + ${CMAKE_MATCH_1} + 1" OUTPUT_FORMAT HEXADECIMAL)

# The body of FUNCTION in its source: from the line naming it to the first
# line that closes a block at the left margin.
file(STRINGS "${SOURCE}/${FUNCTION_SOURCE}" lines)
set(line_no 0)
set(first 0)
set(last 0)
foreach(line IN LISTS lines)
  math(EXPR line_no "${line_no} + 1")
  if(first EQUAL 0 AND line MATCHES "${FUNCTION}\\(")
    set(first ${line_no})
  elseif(first GREATER 0 AND line MATCHES "^}")
    set(last ${line_no})
    break()
  endif()
endforeach()
if(first EQUAL 0 OR last EQUAL 0)
  message(FATAL_ERROR "no definition of ${FUNCTION} in ${FUNCTION_SOURCE}")
endif()

read_tool(resolved ${SYMBOLIZER} --obj=${WORK}/crash/${name} ${address})
string(REGEX MATCH "(^|\n)${FUNCTION}\n[^\n]*/${FUNCTION_SOURCE}:([0-9]+)" found "${resolved}")
if(NOT found OR CMAKE_MATCH_2 LESS first OR CMAKE_MATCH_2 GREATER last)
  message(FATAL_ERROR "${address} resolved to:\n${resolved}\nexpected ${FUNCTION} at ${FUNCTION_SOURCE}:${first}-${last}")
endif()
message(STATUS "${name}!${address}: ${FUNCTION}, ${FUNCTION_SOURCE}:${CMAKE_MATCH_2}")
file(REMOVE ${WORK}/crash/${stem}.pdb)
read_tool(unresolved ${SYMBOLIZER} --obj=${WORK}/crash/${name} ${address})
if(unresolved MATCHES "${FUNCTION_SOURCE}")
  message(FATAL_ERROR "${address} resolved to a source line without the PDB:\n${unresolved}")
endif()
message(STATUS "symbol store checks passed")
