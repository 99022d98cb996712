# Checks one packaged Windows binary (check_package.cmake runs it for each):
#   cmake -DBINARY=<file> -DREADME=<the package's README.txt> -DREADOBJ=<llvm-readobj>
#         -DWINDRES=<windres> -DFILE_VERSION=<x.y.z.build> -DCOMMIT=<commit>
#         -DCOMPANY=<maker> -DCOPYRIGHT=<copyright line> -P check_windows_binary.cmake
# - its version resource, as windres reads it back from the binary: the
#   fixed FILEVERSION and PRODUCTVERSION x,y,z,build, and the strings
#   FileVersion, ProductVersion, CompanyName, LegalCopyright and the commit;
#   a program also has its manifest (asInvoker, supportedOS);
# - the hardening a binary scanner reads from its headers: ASLR
#   (DYNAMIC_BASE), NX (NX_COMPAT), NO_SEH, and a load-config directory of
#   the size its own first field gives, without a SafeSEH table;
# - what README.txt says of its signature: "not signed" exactly when the
#   binary has no certificate table.
get_filename_component(name "${BINARY}" NAME)

include(${CMAKE_CURRENT_LIST_DIR}/read_tool.cmake)

# must_have(TEXT WHAT PATTERN...): each PATTERN (a regular expression) is in TEXT.
function(must_have text what)
  foreach(pattern IN LISTS ARGN)
    if(NOT text MATCHES "${pattern}")
      message(FATAL_ERROR "${name}: ${what} lacks ${pattern}:\n${text}")
    endif()
  endforeach()
endfunction()

read_tool(rc ${WINDRES} -i "${BINARY}" -O rc)
string(REPLACE "." ", " commas "${FILE_VERSION}")
string(REPLACE "." "\\." version "${FILE_VERSION}")
string(REGEX REPLACE "([][()+*.?^$\\\\|])" "\\\\\\1" company "${COMPANY}")
string(REGEX REPLACE "([][()+*.?^$\\\\|])" "\\\\\\1" copyright "${COPYRIGHT}")
must_have("${rc}" "the version resource"
  "FILEVERSION ${commas}\n" "PRODUCTVERSION ${commas}\n"
  "VALUE \"FileVersion\", \"${version}\"" "VALUE \"ProductVersion\", \"${version}\""
  "VALUE \"CompanyName\", \"${company}\"" "VALUE \"LegalCopyright\", \"${copyright}\""
  "VALUE \"Comments\", \"Built from commit ${COMMIT}\"" "VALUE \"OriginalFilename\", \"${name}\"")
if(name MATCHES "\\.exe$")
  must_have("${rc}" "the manifest" "requestedExecutionLevel level=\"+asInvoker" "supportedOS")
endif()

read_tool(headers ${READOBJ} --file-headers "${BINARY}")
must_have("${headers}" "the header's DLL characteristics"
  "IMAGE_DLL_CHARACTERISTICS_DYNAMIC_BASE" "IMAGE_DLL_CHARACTERISTICS_NX_COMPAT"
  "IMAGE_DLL_CHARACTERISTICS_NO_SEH")
if(NOT headers MATCHES "LoadConfigTableSize: (0x[0-9A-Fa-f]+)")
  message(FATAL_ERROR "${name}: no load-config entry in its header")
endif()
math(EXPR directory_size "${CMAKE_MATCH_1}")
if(directory_size EQUAL 0)
  message(FATAL_ERROR "${name} has no load-config directory")
endif()
read_tool(config ${READOBJ} --coff-load-config "${BINARY}")
if(NOT config MATCHES "LoadConfig \\[\n *Size: (0x[0-9A-Fa-f]+)")
  message(FATAL_ERROR "${name}: unreadable load-config directory:\n${config}")
endif()
math(EXPR size "${CMAKE_MATCH_1}")
if(NOT size EQUAL directory_size)
  message(FATAL_ERROR "${name}: the load-config directory says ${size} bytes, the header ${directory_size}")
endif()
must_have("${config}" "the load-config directory" "SEHandlerTable: 0x0\n" "SEHandlerCount: 0\n")

if(NOT headers MATCHES "CertificateTableSize: (0x[0-9A-Fa-f]+)")
  message(FATAL_ERROR "${name}: no certificate table entry in its header")
endif()
math(EXPR certificates "${CMAKE_MATCH_1}")
file(READ "${README}" readme)
string(FIND "${readme}" "CustomHooks.dll and kxhost.exe are not signed." unsigned)
if(certificates EQUAL 0 AND unsigned EQUAL -1)
  message(FATAL_ERROR "${name} is not signed, and README.txt does not say so")
elseif(NOT certificates EQUAL 0 AND NOT unsigned EQUAL -1)
  message(FATAL_ERROR "${name} is signed, and README.txt says it is not")
endif()
message(STATUS "${name}: version ${FILE_VERSION}, commit ${COMMIT}, ASLR, NX, NO_SEH, load config of ${size} bytes")
