# SQLite 3 and TinyXML 2.6.
# Natively they come from Debian's -dev packages. For the Windows DLL they are
# built from Debian's source packages by scripts/build-win-deps.sh into a cache
# outside the source tree; CUSTOMHOOKS_WIN_DEPS points at that cache.
if(WIN32)
  set(CUSTOMHOOKS_WIN_DEPS "" CACHE PATH "Prefix holding the Windows builds of SQLite and TinyXML")
  if(NOT CUSTOMHOOKS_WIN_DEPS)
    message(FATAL_ERROR "Set CUSTOMHOOKS_WIN_DEPS (run scripts/build-win-deps.sh)")
  endif()
  # The link of each binary names the archives by -l, in the folder win-deps
  # of the build folder (CMakeLists.txt): lld writes an archive's path into
  # the PDB, and that path must not name the cache.
  foreach(library sqlite3 tinyxml)
    add_library(CH::${library} INTERFACE IMPORTED GLOBAL)
    set_target_properties(CH::${library} PROPERTIES
      INTERFACE_LINK_LIBRARIES -l${library}
      INTERFACE_LINK_DEPENDS "${CUSTOMHOOKS_WIN_DEPS}/lib/lib${library}.a"
      INTERFACE_INCLUDE_DIRECTORIES "${CUSTOMHOOKS_WIN_DEPS}/include")
  endforeach()
  set_property(TARGET CH::tinyxml PROPERTY INTERFACE_COMPILE_DEFINITIONS TIXML_USE_STL)
else()
  find_package(SQLite3 REQUIRED)
  add_library(CH::sqlite3 ALIAS SQLite::SQLite3)
  find_path(TINYXML_INCLUDE_DIR tinyxml.h REQUIRED)
  find_library(TINYXML_LIBRARY tinyxml REQUIRED)
  add_library(CH::tinyxml UNKNOWN IMPORTED GLOBAL)
  set_target_properties(CH::tinyxml PROPERTIES
    IMPORTED_LOCATION "${TINYXML_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${TINYXML_INCLUDE_DIR}"
    INTERFACE_COMPILE_DEFINITIONS "TIXML_USE_STL")
endif()
