# What a plain user plants in the cache folder, which every user can write,
# while kxhost drives the built library through install sessions of the
# sample suite: a hot journal whose trailer names a file elsewhere as its
# super-journal (SQLite would delete that file), and a schema whose CHECK
# costs seconds and gigabytes on every insert, and a schema of 300
# large triggers. The named file stays, the session goes on as usual; each
# schema is refused as a damaged file is, and left as it is.
#   cmake -DRUNNER=<emulator or empty> -DSAMPLESUITE=<exe> -DKXHOST=<exe> -DLIBRARY=<lib>
#         -DPLANTER=<exe> -DMACHINE=<dir> -P check_planted_cache.cmake
cmake_policy(SET CMP0009 NEW)
include(${CMAKE_CURRENT_LIST_DIR}/kxhost_machine.cmake)
reset_machine()
file(MAKE_DIRECTORY "${MACHINE}/private")

lay_out_sample_suite()

run_session(first)
if(NOT EXISTS "${cache}")
  message(FATAL_ERROR "no ${cache} after a session:\n${first}")
endif()
program_path(cache_program "${cache}")

# A hot journal naming a file elsewhere as its super-journal.
set(victim "${MACHINE}/private/victim")
file(WRITE "${victim}" "not the cache's")
program_path(victim_program "${victim}")
plant(journal "${cache_program}" "${victim_program}")
if(NOT EXISTS "${cache}-journal")
  message(FATAL_ERROR "no journal was planted")
endif()
run_session(out)
if(NOT EXISTS "${victim}")
  message(FATAL_ERROR "the file a planted journal named was deleted; the session printed:\n${out}")
endif()
file(READ "${victim}" victim_text)
if(NOT victim_text STREQUAL "not the cache's")
  message(FATAL_ERROR "the file a planted journal named was changed")
endif()
if(NOT out STREQUAL first)
  message(FATAL_ERROR "with a planted journal the session printed:\n${out}\nexpected:\n${first}")
endif()

# What a session prints for a damaged cache.
file(COPY_FILE "${cache}" "${MACHINE}/cache.kept")
string(REPEAT "Z" 8192 junk)
file(WRITE "${cache}" "${junk}")
run_session(damaged)
file(COPY_FILE "${MACHINE}/cache.kept" "${cache}")
if(damaged STREQUAL first)
  message(FATAL_ERROR "a damaged cache changed nothing the session printed")
endif()

# A schema with an expensive CHECK on the cache's own table.
plant(schema "${cache_program}")
file(SHA256 "${cache}" planted_hash)
run_session(out)
if(NOT out STREQUAL damaged)
  message(FATAL_ERROR "with a hostile schema the session printed:\n${out}\nexpected, as for a damaged cache:\n${damaged}")
endif()
file(SHA256 "${cache}" hash)
if(NOT hash STREQUAL planted_hash)
  message(FATAL_ERROR "the refused cache was changed")
endif()

# 300 triggers of 9.8 kB each: refused before SQLite loads them, at
# once, as a damaged cache is.
file(COPY_FILE "${MACHINE}/cache.kept" "${cache}")
plant(triggers "${cache_program}")
file(SHA256 "${cache}" planted_hash)
string(TIMESTAMP started "%s" UTC)
run_session(out)
string(TIMESTAMP ended "%s" UTC)
if(NOT out STREQUAL damaged)
  message(FATAL_ERROR "with 300 planted triggers the session printed:\n${out}\nexpected, as for a damaged cache:\n${damaged}")
endif()
math(EXPR seconds "${ended} - ${started}")
if(seconds GREATER 10)
  message(FATAL_ERROR "with 300 planted triggers the session took ${seconds} s")
endif()
file(SHA256 "${cache}" hash)
if(NOT hash STREQUAL planted_hash)
  message(FATAL_ERROR "the refused cache was changed")
endif()
reset_machine()
message(STATUS "planted cache checks passed")
