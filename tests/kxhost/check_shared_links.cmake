# Links planted in the cache folder, which every user can write, while the
# module runs as an installer would: kxhost drives the built library through
# install sessions, and links are planted between them. Whatever a link leads
# to stays as it was, nothing is created through a dangling link, and the
# planted name is refused.
#   cmake -DRUNNER=<emulator or empty> -DKXHOST=<exe> -DLIBRARY=<lib> -DMACHINE=<dir>
#         -DSAMPLESUITE=<exe> [-DWINE_PREFIX=<dir>] -P check_shared_links.cmake
cmake_policy(SET CMP0009 NEW)
file(REMOVE_RECURSE "${MACHINE}")
file(MAKE_DIRECTORY "${MACHINE}/Common Files" "${MACHINE}/private/inner")
set(ENV{CommonProgramFiles} "${MACHINE}/Common Files")
set(ENV{CommonProgramFiles\(x86\)} "${MACHINE}/Common Files")
set(ENV{ProgramData} "${MACHINE}")

# Paths handed to a Windows program under Wine go through drive Z:.
function(program_path out_var path)
  if(WINE_PREFIX)
    string(REPLACE "/" "\\" path "Z:${path}")
  endif()
  set(${out_var} "${path}" PARENT_SCOPE)
endfunction()

# Under Wine the common data folder is the prefix's own: start it empty.
if(WINE_PREFIX)
  file(GLOB commons "${WINE_PREFIX}/drive_c/Program Files*/Common Files/Orvik")
  file(REMOVE_RECURSE ${commons})
endif()

# The sample suite, so that a session reaches the cache database.
program_path(program_files "${MACHINE}/Program Files")
execute_process(COMMAND ${RUNNER} ${SAMPLESUITE} ${program_files}
                OUTPUT_FILE "${MACHINE}/props.txt" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "samplesuite exited ${rc}")
endif()
program_path(props "${MACHINE}/props.txt")

function(run_session out_var)
  execute_process(COMMAND ${RUNNER} ${KXHOST} --mode install --entry SessionClose --props-file ${props} ${LIBRARY}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "kxhost exited ${rc}:\n${out}${err}")
  endif()
  string(REPLACE "\r\n" "\n" out "${out}")
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

# A first session makes the cache; find it where the platform put it.
run_session(first)
if(WINE_PREFIX)
  file(GLOB_RECURSE caches "${WINE_PREFIX}/drive_c/cache.db")
else()
  file(GLOB_RECURSE caches "${MACHINE}/cache.db")
endif()
list(FILTER caches INCLUDE REGEX "/Orvik PCD/cache/cache\\.db$")
list(LENGTH caches found)
if(NOT found EQUAL 1)
  message(FATAL_ERROR "expected one cache.db, found: ${caches}")
endif()
get_filename_component(cache_folder "${caches}" DIRECTORY)

set(secret "${MACHINE}/private/secret.db")
file(COPY_FILE "${caches}" "${secret}")
# Bytes of its own, so that it is told apart from any cache a session makes.
file(APPEND "${secret}" "root only")
file(CHMOD "${secret}" PERMISSIONS OWNER_READ OWNER_WRITE)
file(SHA256 "${secret}" secret_hash)
set(created "${MACHINE}/private/inner/created")

foreach(name cache.db cache.db-journal)
  foreach(kind symbolic dangling hard)
    set(planted "${cache_folder}/${name}")
    file(REMOVE "${planted}")
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
    if(kind STREQUAL "hard" OR NOT WINE_PREFIX)
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
message(STATUS "shared-folder link checks passed")
