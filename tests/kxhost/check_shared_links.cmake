# Links planted in the cache folder, which every user can write, while the
# module runs as an installer would: kxhost drives the built library through
# install sessions of the sample suite, and links are planted between them.
# Whatever a link leads to stays as it was, nothing is created through a
# dangling link, and the planted name is refused.
#   cmake -DRUNNER=<emulator or empty> -DSAMPLESUITE=<exe> -DKXHOST=<exe> -DLIBRARY=<lib>
#         -DMACHINE=<dir> -P check_shared_links.cmake
cmake_policy(SET CMP0009 NEW)
include(${CMAKE_CURRENT_LIST_DIR}/kxhost_machine.cmake)
reset_machine()
file(MAKE_DIRECTORY "${MACHINE}/private/inner")

lay_out_sample_suite()

# A first session makes the cache.
run_session(first)
if(NOT EXISTS "${cache}")
  message(FATAL_ERROR "no ${cache} after a session:\n${first}")
endif()

# A root-only database with the cache's schema, and bytes of its own so that
# it is told apart from any cache a session makes.
set(secret "${MACHINE}/private/secret.db")
file(COPY_FILE "${cache}" "${secret}")
file(APPEND "${secret}" "root only")
file(CHMOD "${secret}" PERMISSIONS OWNER_READ OWNER_WRITE)
file(SHA256 "${secret}" secret_hash)
set(created "${MACHINE}/private/inner/created")

foreach(name ${name_cache_file} ${name_cache_file}-journal)
  foreach(kind symbolic dangling hard)
    set(planted "${cache_folder}/${name}")
    file(REMOVE "${planted}")
    # A current cache is left as it is, and its journal is never opened:
    # only a session with records to write reaches the journal's name, here
    # one that makes the cache anew.
    if(name STREQUAL "${name_cache_file}-journal")
      file(REMOVE "${cache}")
    endif()
    if(kind STREQUAL "symbolic")
      file(CREATE_LINK "${secret}" "${planted}" SYMBOLIC)
    elseif(kind STREQUAL "dangling")
      file(CREATE_LINK "${created}" "${planted}" SYMBOLIC)
    else()
      file(CREATE_LINK "${secret}" "${planted}")
    endif()
    run_session(out)
    file(SHA256 "${secret}" hash)
    if(NOT hash STREQUAL secret_hash)
      message(FATAL_ERROR "${kind} link at ${name}: the file it leads to was written")
    endif()
    if(EXISTS "${created}")
      message(FATAL_ERROR "${kind} link at ${name}: a file was created through it")
    endif()
    if(NOT out MATCHES "EULA_ACCEPTED failed|PCDOpen")
      message(FATAL_ERROR "${kind} link at ${name}: the session did not report the refused cache:\n${out}")
    endif()
    # The planted link is removed (a later open in the same session may make
    # a file of its own there), except a POSIX link under Wine, which cannot
    # be removed there without deleting what it leads to.
    if(kind STREQUAL "hard" OR NOT RUNNER)
      set(left_in_place FALSE)
      if(IS_SYMLINK "${planted}")
        set(left_in_place TRUE)
      elseif(EXISTS "${planted}")
        file(SHA256 "${planted}" planted_hash)
        if(planted_hash STREQUAL secret_hash)
          set(left_in_place TRUE)
        endif()
      endif()
      if(left_in_place)
        message(FATAL_ERROR "${kind} link at ${name} was left in place")
      endif()
    endif()
    file(REMOVE "${planted}")
    run_session(again)
    if(NOT again STREQUAL first)
      message(FATAL_ERROR "after the ${kind} link at ${name} was gone, the session printed:\n${again}\nexpected:\n${first}")
    endif()
  endforeach()
endforeach()
reset_machine()
message(STATUS "shared-folder link checks passed")
