# The layers of src/ call strictly downwards:
#   hook -> integration -> pcf, storage -> fs
# A file may include headers of its own layer and of layers below it, never
# of a layer above it nor of its sibling (pcf and storage know nothing of each
# other). Only src/fs reaches the operating system: no file above it includes
# a system header of Windows or POSIX, or chooses code by platform.
#   cmake -DSOURCE_DIR=<project root> -P check_layering.cmake
set(rank_fs 1)
set(rank_storage 2)
set(rank_pcf 2)
set(rank_integration 3)
set(rank_hook 4)
set(layers fs storage pcf integration hook)

set(problems "")
foreach(layer IN LISTS layers)
  file(GLOB_RECURSE files "${SOURCE_DIR}/src/${layer}/*.h" "${SOURCE_DIR}/src/${layer}/*.cpp")
  foreach(file IN LISTS files)
    file(RELATIVE_PATH name "${SOURCE_DIR}" "${file}")
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([a-z]+)/.*" "\\1" included "${line}")
      if(NOT DEFINED rank_${included} OR included STREQUAL layer)
        continue()
      endif()
      if(NOT rank_${included} LESS rank_${layer})
        string(APPEND problems "${name}: includes a header of ${included}, which is not below ${layer}: ${line}\n")
      endif()
    endforeach()
    if(NOT layer STREQUAL "fs")
      file(STRINGS "${file}" system REGEX "^[ \t]*#[ \t]*include[ \t]*<(windows|unistd|fcntl|dirent|io|direct|shlobj|shlwapi|aclapi)\\.h>|^[ \t]*#[ \t]*include[ \t]*<sys/|^[ \t]*#[ \t]*(if|ifdef|ifndef|elif)[ \t].*(_WIN32|__unix__|__linux__|__APPLE__)")
      foreach(line IN LISTS system)
        string(APPEND problems "${name}: only src/fs may reach the operating system: ${line}\n")
      endforeach()
    endif()
  endforeach()
endforeach()

if(problems)
  message(FATAL_ERROR "layering broken:\n${problems}")
endif()
message(STATUS "layering holds")
