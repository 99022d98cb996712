# The machine the kxhost checks run on, included by each check. Expects:
#   MACHINE      a folder of the check's own
#   RUNNER       the emulator that runs Windows programs (wine), or empty
#   SAMPLESUITE  the samplesuite tool, which lays out the sample suite and
#                prints the module's names
# Natively the special folders point into MACHINE through the environment.
# Under Wine they are the prefix's own, so the common data folder there
# (in the prefix's Common Files folder) is emptied by reset_machine, and
# paths handed to the programs are given in Windows form.

# The module's names (fs/product_names.h) as `samplesuite --names`
# prints them: name_<key> for each, folders with "/" separators.
execute_process(COMMAND ${RUNNER} ${SAMPLESUITE} --names OUTPUT_VARIABLE printed RESULT_VARIABLE rc)
string(REPLACE "\r" "" printed "${printed}")
string(REGEX MATCHALL "[^\n]+" printed_lines "${printed}")
foreach(line IN LISTS printed_lines)
  if(NOT line MATCHES "^([a-z_]+)=(.*)$")
    message(FATAL_ERROR "samplesuite --names printed: ${line}")
  endif()
  string(REPLACE "\\" "/" name_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
if(NOT rc EQUAL 0 OR NOT name_cache_folder OR NOT name_common_data_folder)
  message(FATAL_ERROR "samplesuite --names exited ${rc} and printed:\n${printed}")
endif()

if(RUNNER)
  # Asked before the environment below is set: Wine would import it.
  execute_process(COMMAND ${RUNNER} cmd /c "echo %CommonProgramFiles%"
                  OUTPUT_VARIABLE common OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR common STREQUAL "")
    message(FATAL_ERROR "the prefix's Common Files folder cannot be found: ${rc} ${common}")
  endif()
  # winepath through RUNNER too: the prefix is the one the test holds.
  execute_process(COMMAND ${RUNNER} winepath -u "${common}\\${name_common_data_folder}"
                  OUTPUT_VARIABLE prefix_common_data OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT prefix_common_data MATCHES "/${name_common_data_folder}$")
    message(FATAL_ERROR "winepath failed on ${common}\\${name_common_data_folder}: ${prefix_common_data}")
  endif()
endif()

set(ENV{CommonProgramFiles} "${MACHINE}/Common Files")
set(ENV{CommonProgramFiles\(x86\)} "${MACHINE}/Common Files")
set(ENV{ProgramData} "${MACHINE}")

# An empty machine: MACHINE with an empty "Common Files", no common data folder.
function(reset_machine)
  file(REMOVE_RECURSE "${MACHINE}")
  file(MAKE_DIRECTORY "${MACHINE}/Common Files")
  if(prefix_common_data)
    file(REMOVE_RECURSE "${prefix_common_data}")
  endif()
endfunction()

# The form of a path the programs take: Windows form under Wine.
function(program_path out_var path)
  if(RUNNER)
    execute_process(COMMAND ${RUNNER} winepath -w "${path}" OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  set(${out_var} "${path}" PARENT_SCOPE)
endfunction()

# Runs a program of the build (through RUNNER): its standard output, then its
# error output, with Windows line ends made plain.
function(run_program out_var rc_var)
  execute_process(COMMAND ${RUNNER} ${ARGN}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  string(REPLACE "\r\n" "\n" out "${out}")
  set(${out_var} "${out}${err}" PARENT_SCOPE)
  set(${rc_var} "${rc}" PARENT_SCOPE)
endfunction()

# Lays the sample suite out with samplesuite and keeps its session
# properties: sets `programs`, `properties_file` and `library` in the
# caller, in the programs' form.
macro(lay_out_sample_suite)
  program_path(programs "${MACHINE}/Program Files")
  run_program(properties rc ${SAMPLESUITE} "${programs}")
  if(NOT rc EQUAL 0 OR NOT properties MATCHES "\n${name_media_signature_property}=")
    message(FATAL_ERROR "samplesuite exited ${rc} and printed:\n${properties}")
  endif()
  file(WRITE "${MACHINE}/session.properties" "${properties}")
  program_path(properties_file "${MACHINE}/session.properties")
  program_path(library "${LIBRARY}")
endmacro()

# One install session's close through the library; what kxhost printed.
function(run_session out_var)
  run_program(out rc ${KXHOST} --mode install --entry SessionClose --props-file "${properties_file}" "${library}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "kxhost exited ${rc}:\n${out}")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

# Runs PLANTER (tests/kxhost/cache_planter.cpp) with the arguments given.
function(plant)
  run_program(out rc ${PLANTER} ${ARGN})
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cache_planter ${ARGN} exited ${rc}:\n${out}")
  endif()
endfunction()

# The cache folder, which every user can write, and the cache database in
# it: in the prefix's common data folder under Wine, in the machine's
# natively.
if(prefix_common_data)
  set(cache_folder "${prefix_common_data}/${name_cache_folder}")
else()
  set(cache_folder "${MACHINE}/Common Files/${name_common_data_folder}/${name_cache_folder}")
endif()
set(cache "${cache_folder}/${name_cache_file}")
