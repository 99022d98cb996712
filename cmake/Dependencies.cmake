# SQLite 3 and TinyXML 2.6.
# Natively they come from Debian's -dev packages. For the Windows DLL they are
# built from Debian's source packages by scripts/build-win-deps.sh into a cache
# outside the source tree; CUSTOMHOOKS_WIN_DEPS points at that cache.
if(WIN32)
  set(CUSTOMHOOKS_WIN_DEPS "" CACHE PATH "Prefix holding the Windows builds of SQLite and TinyXML")
  if(NOT CUSTOMHOOKS_WIN_DEPS)
    message(FATAL_ERROR "Set CUSTOMHOOKS_WIN_DEPS (run scripts/build-win-deps.sh)")
  endif()
  add_library(CH::sqlite3 STATIC IMPORTED GLOBAL)
  set_target_properties(CH::sqlite3 PROPERTIES
    IMPORTED_LOCATION "${CUSTOMHOOKS_WIN_DEPS}/lib/libsqlite3.a"
    INTERFACE_INCLUDE_DIRECTORIES "${CUSTOMHOOKS_WIN_DEPS}/include")
  add_library(CH::tinyxml STATIC IMPORTED GLOBAL)
  set_target_properties(CH::tinyxml PROPERTIES
    IMPORTED_LOCATION "${CUSTOMHOOKS_WIN_DEPS}/lib/libtinyxml.a"
    INTERFACE_INCLUDE_DIRECTORIES "${CUSTOMHOOKS_WIN_DEPS}/include"
    INTERFACE_COMPILE_DEFINITIONS "TIXML_USE_STL")
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
