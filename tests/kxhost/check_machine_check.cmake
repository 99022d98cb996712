# kxhost check on the sample suite and on machines with each refusal
# planted: its verdict, exit status and reasons, and that nothing on the
# machine changes (every entry's kind, mode, owner, size, links, inode,
# times of change and bytes, before and after), the cache folder belonging
# to a plain user when the check runs as root.
#   cmake -DRUNNER=<emulator or empty> -DSAMPLESUITE=<exe> -DKXHOST=<exe> -DLIBRARY=<lib>
#         -DPLANTER=<exe> -DLOCK_HOLDER=<exe> -DMACHINE=<dir> -P check_machine_check.cmake
cmake_policy(SET CMP0009 NEW)
cmake_policy(SET CMP0057 NEW)
include(${CMAKE_CURRENT_LIST_DIR}/kxhost_machine.cmake)
reset_machine()
lay_out_sample_suite()

# Everything below the machine's folders, as `find` and `sha256sum` see it.
function(snapshot out_var)
  set(roots "${MACHINE}")
  if(prefix_common_data)
    list(APPEND roots "${prefix_common_data}")
  endif()
  execute_process(COMMAND find ${roots} -printf "%p %y %m %U %G %s %n %i %T@ %C@\n" OUTPUT_VARIABLE listing)
  execute_process(COMMAND find ${roots} -type f -exec sha256sum {} + OUTPUT_VARIABLE sums)
  set(${out_var} "${listing}${sums}" PARENT_SCOPE)
endfunction()

# Runs the check (JSON) with the session's properties; sets `report` and
# `status`, and fails when the machine changed.
macro(run_check)
  snapshot(before)
  run_program(report status ${KXHOST} check --json --props-file "${properties_file}")
  snapshot(after)
  if(NOT before STREQUAL after)
    file(WRITE "${MACHINE}/../check-before.txt" "${before}")
    file(WRITE "${MACHINE}/../check-after.txt" "${after}")
    message(FATAL_ERROR "kxhost check changed the machine (check-before.txt, check-after.txt):\n${report}")
  endif()
  string(JSON version GET "${report}" version)
  if(NOT version EQUAL 1)
    message(FATAL_ERROR "the check's JSON has version ${version}:\n${report}")
  endif()
endmacro()

function(expect_status expected what)
  if(NOT status EQUAL expected)
    message(FATAL_ERROR "${what}: kxhost check exited ${status}, not ${expected}:\n${report}")
  endif()
endfunction()

# The values of `member` of every element of the array `array`.
function(json_members out_var array member)
  string(JSON count LENGTH "${report}" ${array})
  set(values "")
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(index RANGE ${last})
      string(JSON value GET "${report}" ${array} ${index} ${member})
      list(APPEND values "${value}")
    endforeach()
  endif()
  set(${out_var} "${values}" PARENT_SCOPE)
endfunction()

# The sample suite before any close: every database used as it is, both
# products located, the agreement and driver records, documents and the
# locale files to be written.
run_check()
expect_status(0 "sample suite")
json_members(verdicts databases verdict)
json_members(located products located)
json_members(keys changes key)
json_members(kinds changes kind)
if(NOT verdicts STREQUAL "use;use;use" OR NOT located STREQUAL "ON;ON")
  message(FATAL_ERROR "sample suite: databases ${verdicts}, products located ${located}:\n${report}")
endif()
foreach(key IN ITEMS ${name_eula_accepted_key} ${name_eula_language_key} ${name_default_driver_payload_key})
  if(NOT keys MATCHES "/${key}(;|$)")
    message(FATAL_ERROR "sample suite: no change of ${key} predicted:\n${report}")
  endif()
endforeach()
foreach(kind IN ITEMS record document file backup)
  if(NOT kind IN_LIST kinds)
    message(FATAL_ERROR "sample suite: no ${kind} change predicted:\n${report}")
  endif()
endforeach()

# After a close, a second one would change nothing.
run_session(closed)
run_check()
expect_status(0 "after a close")
string(JSON changed LENGTH "${report}" changes)
if(NOT changed EQUAL 0)
  message(FATAL_ERROR "after a close, the check predicts changes:\n${report}")
endif()
file(COPY_FILE "${cache}" "${MACHINE}/cache.kept")

# The cache folder belongs to a plain user, as a user who plants files there
# may own it.
if(NOT RUNNER)
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(uid STREQUAL "0")
    execute_process(COMMAND chown -R nobody "${cache_folder}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "chown nobody ${cache_folder} failed")
    endif()
  endif()
endif()

# Each refusal planted in the cache folder: the cache's verdict, and the
# reason the check gives.
program_path(cache_program "${cache}")
set(victim "${MACHINE}/victim")
file(WRITE "${victim}" "not the cache's")
program_path(victim_program "${victim}")
set(cases
    "journal|rollback|a hot journal. a close rolls it back first, putting back 0 pages"
    "schema|refuse|table domain_data: a CHECK constraint"
    "triggers|refuse|within the cache folder's bounds"
    "wal|refuse|a write-ahead log header"
    "oversize|refuse|67112960 bytes, past the bound of 67108864 bytes"
    "unchecked|use|^$"
    "journal-folder|refuse|a folder stands at the journal's name"
    "journal-link|refuse|a link stands at .*cache.db-journal")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 plant)
  list(GET fields 1 expected_verdict)
  list(GET fields 2 expected_reason)
  file(REMOVE_RECURSE "${cache}-journal")
  file(COPY_FILE "${MACHINE}/cache.kept" "${cache}")
  if(plant STREQUAL "journal")
    plant(journal "${cache_program}" "${victim_program}")
  elseif(plant STREQUAL "journal-folder")
    file(MAKE_DIRECTORY "${cache}-journal")
  elseif(plant STREQUAL "journal-link")
    file(CREATE_LINK "${victim}" "${cache}-journal" SYMBOLIC)
  else()
    plant(${plant} "${cache_program}")
  endif()
  run_check()
  expect_status(1 "${plant}")
  string(JSON verdict GET "${report}" databases 1 verdict)
  string(JSON reason GET "${report}" databases 1 reason)
  if(NOT verdict STREQUAL expected_verdict OR NOT reason MATCHES "${expected_reason}")
    message(FATAL_ERROR "${plant}: cache.db ${verdict}: ${reason}\nexpected ${expected_verdict}: ${expected_reason}")
  endif()
  string(JSON advice GET "${report}" problems 0 advice)
  if(advice STREQUAL "")
    message(FATAL_ERROR "${plant}: a problem without advice:\n${report}")
  endif()
  if(plant STREQUAL "unchecked")
    string(JSON quick GET "${report}" databases 1 quickCheck)
    if(NOT quick MATCHES "NULL value in notes")
      message(FATAL_ERROR "unchecked: quick check ${quick}")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE "${cache}-journal")

# A lock another process holds while the check runs: the write lock alone
# (the close would wait for it), and an exclusive one (refused as busy).
if(NOT RUNNER)
  foreach(lock IN ITEMS immediate exclusive)
    file(COPY_FILE "${MACHINE}/cache.kept" "${cache}")
    set(marker "${MACHINE}/locked")
    file(REMOVE "${marker}")
    execute_process(
        COMMAND ${LOCK_HOLDER} "${cache}" ${lock} 2500 "${marker}"
        COMMAND sh -c "while [ ! -e \"$1\" ]; do sleep 0.05; done; \"$2\" check --json --props-file \"$3\""
                sh "${marker}" "${KXHOST}" "${properties_file}"
        OUTPUT_VARIABLE report RESULTS_VARIABLE results)
    list(GET results 1 status)
    expect_status(1 "${lock} lock")
    string(JSON verdict GET "${report}" databases 1 verdict)
    string(JSON locked GET "${report}" databases 1 lockedForWriting)
    if(lock STREQUAL "immediate" AND NOT (verdict STREQUAL "use" AND locked))
      message(FATAL_ERROR "write lock: cache.db ${verdict}, locked ${locked}:\n${report}")
    endif()
    string(JSON reason GET "${report}" databases 1 reason)
    if(lock STREQUAL "exclusive" AND NOT (verdict STREQUAL "refuse" AND reason MATCHES "busy"))
      message(FATAL_ERROR "exclusive lock: cache.db ${verdict}: ${reason}:\n${report}")
    endif()
  endforeach()
endif()
reset_machine()
message(STATUS "kxhost check passed")
