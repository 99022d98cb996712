# What the Windows package says of the third-party code linked into its
# binaries, made when a Windows build is configured (included by
# packaging/CMakeLists.txt):
#   THIRD-PARTY-NOTICES.txt  for each component, what it is, its version and
#                            licence, and the licence texts of its Debian
#                            package (/usr/share/doc/<package>/copyright, as
#                            installed on the build machine);
#   sbom.spdx.json           an SPDX 2.3 software bill of materials: the
#                            package, and each component linked into it with
#                            its exact Debian version and a package URL.
# The versions are those of packaging/dependencies.txt, which
# scripts/build-win-deps.sh has checked against apt and dpkg. The notices
# and SBOM name CH_THIRD_PARTY_FILES for the install rules.

# Each component: the package of dependencies.txt|its name|what of it is
# linked in|the installed package whose copyright file holds its licences|
# its SPDX licence expression.
set(ch_components
  "sqlite3|SQLite|the database engine (built from Debian's source package)|libsqlite3-dev|blessing"
  "tinyxml|TinyXML|the XML parser (built from Debian's source package, Debian's patches applied)|libtinyxml-dev|Zlib"
  "g++-mingw-w64-i686-posix|GCC runtime libraries|libstdc++, libgcc and libssp, under the GCC Runtime Library Exception|gcc-mingw-w64-base|GPL-3.0-or-later WITH GCC-exception-3.1"
  "mingw-w64-i686-dev|mingw-w64 runtime|the C runtime start-up code and winpthreads|mingw-w64-common|ZPL-2.1 AND MIT AND BSD-3-Clause")

set(ch_dependencies ${PROJECT_SOURCE_DIR}/packaging/dependencies.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ch_dependencies})
file(STRINGS ${ch_dependencies} ch_dependency_lines REGEX "^(source|package) ")

# The time the documents were made: SOURCE_DATE_EPOCH when set (package.sh
# sets the commit's time), so that two builds of one commit are the same.
string(TIMESTAMP ch_created "%Y-%m-%dT%H:%M:%SZ" UTC)

set(notices "Third-party software in CustomHooks for Windows\n")
string(APPEND notices "==============================================\n\n"
  "CustomHooks.dll and kxhost.exe contain, linked in statically, the\n"
  "components below. Each is listed with the Debian 12 package it was built\n"
  "from, its version (Debian revision included) and its licence; the\n"
  "licence texts follow, as Debian gives them for that package.\n\n")
set(texts "")
set(packages "")
set(relationships "")
foreach(component IN LISTS ch_components)
  string(REPLACE "|" ";" fields "${component}")
  list(GET fields 0 package)
  list(GET fields 1 name)
  list(GET fields 2 what)
  list(GET fields 3 doc)
  list(GET fields 4 licence)
  set(version "")
  foreach(line IN LISTS ch_dependency_lines)
    if(line MATCHES "^[a-z]+ +([^ ]+) +([^ ]+)" AND CMAKE_MATCH_1 STREQUAL package)
      set(version "${CMAKE_MATCH_2}")
    endif()
  endforeach()
  if(version STREQUAL "")
    message(FATAL_ERROR "packaging/dependencies.txt lists no version of ${package}")
  endif()
  set(copyright /usr/share/doc/${doc}/copyright)
  if(NOT EXISTS ${copyright})
    message(FATAL_ERROR "no ${copyright}: install ${doc} (scripts/install-deps.sh)")
  endif()
  file(READ ${copyright} text)
  string(APPEND notices "  ${name}: ${what}\n    Debian package ${package} ${version}\n    licence: ${licence}\n\n")
  string(APPEND texts "\n\n${name} (Debian package ${package} ${version})\n"
    "------------------------------------------------------------------------\n"
    "From /usr/share/doc/${doc}/copyright:\n\n${text}")

  # SPDX: the Debian source or binary package, as a package URL.
  string(REGEX REPLACE "[^A-Za-z0-9.-]" "-" id "${package}")
  string(REPLACE "+" "%2B" purl_version "${version}")
  string(REPLACE ":" "%3A" purl_version "${purl_version}")
  string(APPEND packages ",
    {
      \"name\": \"${name}\",
      \"SPDXID\": \"SPDXRef-Package-${id}\",
      \"versionInfo\": \"${version}\",
      \"supplier\": \"Organization: Debian\",
      \"downloadLocation\": \"NOASSERTION\",
      \"filesAnalyzed\": false,
      \"licenseConcluded\": \"NOASSERTION\",
      \"licenseDeclared\": \"${licence}\",
      \"copyrightText\": \"NOASSERTION\",
      \"comment\": \"${what}; licence texts in THIRD-PARTY-NOTICES.txt\",
      \"externalRefs\": [
        {
          \"referenceCategory\": \"PACKAGE-MANAGER\",
          \"referenceType\": \"purl\",
          \"referenceLocator\": \"pkg:deb/debian/${package}@${purl_version}?distro=debian-12\"
        }
      ]
    }")
  string(APPEND relationships ",
    {
      \"spdxElementId\": \"SPDXRef-Package-CustomHooks\",
      \"relationshipType\": \"STATIC_LINK\",
      \"relatedSpdxElement\": \"SPDXRef-Package-${id}\"
    }")
endforeach()
set(CH_THIRD_PARTY_NOTICES ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)
ch_package_text(${CH_THIRD_PARTY_NOTICES} "${notices}${texts}")

set(CH_SBOM ${CMAKE_CURRENT_BINARY_DIR}/sbom.spdx.json)
ch_package_text(${CH_SBOM} "{
  \"spdxVersion\": \"SPDX-2.3\",
  \"dataLicense\": \"CC0-1.0\",
  \"SPDXID\": \"SPDXRef-DOCUMENT\",
  \"name\": \"CustomHooks-${PROJECT_VERSION}-win32\",
  \"documentNamespace\": \"https://spdx.org/spdxdocs/CustomHooks-${PROJECT_VERSION}-win32-${CH_COMMIT}\",
  \"creationInfo\": {
    \"created\": \"${ch_created}\",
    \"creators\": [\"Organization: ${CUSTOMHOOKS_COMPANY}\", \"Tool: CustomHooks packaging/ThirdParty.cmake\"]
  },
  \"documentDescribes\": [\"SPDXRef-Package-CustomHooks\"],
  \"packages\": [
    {
      \"name\": \"CustomHooks\",
      \"SPDXID\": \"SPDXRef-Package-CustomHooks\",
      \"versionInfo\": \"${CH_FILE_VERSION}\",
      \"supplier\": \"Organization: ${CUSTOMHOOKS_COMPANY}\",
      \"downloadLocation\": \"NOASSERTION\",
      \"filesAnalyzed\": false,
      \"licenseConcluded\": \"NOASSERTION\",
      \"licenseDeclared\": \"NOASSERTION\",
      \"copyrightText\": \"${CUSTOMHOOKS_COPYRIGHT}\",
      \"comment\": \"CustomHooks.dll and kxhost.exe, built from commit ${CH_COMMIT}\"
    }${packages}
  ],
  \"relationships\": [
    {
      \"spdxElementId\": \"SPDXRef-DOCUMENT\",
      \"relationshipType\": \"DESCRIBES\",
      \"relatedSpdxElement\": \"SPDXRef-Package-CustomHooks\"
    }${relationships}
  ]
}
")
set(CH_THIRD_PARTY_FILES ${CH_THIRD_PARTY_NOTICES} ${CH_SBOM})
