# Checks what the built library exports and imports:
#   cmake -DLIBRARY=<file> -DOBJDUMP=<objdump> -DKIND=pe|elf -P check_library_interface.cmake
# The library must export exactly the three hook names; a Windows DLL may
# import only Windows system DLLs (no MinGW runtime DLLs).
set(expected_exports
  KXInstallerCustomHookCloseSession
  KXInstallerCustomHookInitSession
  KXInstallerCustomHookProc)
set(system_dlls
  kernel32.dll msvcrt.dll shell32.dll shlwapi.dll advapi32.dll ole32.dll user32.dll ntdll.dll)

if(KIND STREQUAL "pe")
  execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${LIBRARY}")
  endif()
  # The names are the rows of the "[Ordinal/Name Pointer] Table": "\t[   0] Name".
  string(REPLACE ";" "," text "${dump}")
  string(REPLACE "\n" ";" lines "${text}")
  set(exports)
  set(in_table FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "Ordinal/Name Pointer")
      set(in_table TRUE)
    elseif(in_table AND line MATCHES "^\t\\[ *[0-9]+\\] (.+)$")
      list(APPEND exports "${CMAKE_MATCH_1}")
    elseif(in_table)
      break()
    endif()
  endforeach()
  string(REGEX MATCHALL "DLL Name: [^\n]+" dll_rows "${dump}")
  foreach(row IN LISTS dll_rows)
    string(REGEX REPLACE "DLL Name: " "" dll "${row}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll)
    list(FIND system_dlls "${dll}" found)
    if(found EQUAL -1)
      message(FATAL_ERROR "${LIBRARY} imports ${dll}, which is not a Windows system DLL")
    endif()
    message(STATUS "imports ${dll}")
  endforeach()
else()
  execute_process(COMMAND ${OBJDUMP} -T ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${LIBRARY}")
  endif()
  # Defined dynamic symbols are the ones not in section *UND*.
  string(REGEX MATCHALL "\n[0-9a-f]+ [^\n]*\\.text[^\n]*" rows "${dump}")
  set(exports)
  foreach(row IN LISTS rows)
    string(REGEX REPLACE ".* ([A-Za-z_0-9@]+)$" "\\1" name "${row}")
    list(APPEND exports ${name})
  endforeach()
endif()

list(SORT exports)
if(NOT exports STREQUAL expected_exports)
  message(FATAL_ERROR "${LIBRARY} exports [${exports}], expected [${expected_exports}]")
endif()
message(STATUS "exports exactly: ${exports}")
