# ch_add_version_resource(TARGET DESCRIPTION)
# Gives a Windows DLL or program a VERSIONINFO resource: FileVersion and
# ProductVersion are the project version and the build number (x.y.z.build,
# and x,y,z,build in the fixed part, which an installer compares to decide
# whether to replace a file), ProductName the project name, InternalName the
# target's name, OriginalFilename its file name, FileDescription
# DESCRIPTION, CompanyName and LegalCopyright those of CMakeLists.txt, and
# Comments the commit. A program also gets its manifest (cmake/program.manifest).
function(ch_add_version_resource target description)
  set(CH_RC_TARGET ${target})
  set(CH_RC_DESCRIPTION "${description}")
  get_target_property(type ${target} TYPE)
  set(CH_RC_MANIFEST "")
  if(type STREQUAL "SHARED_LIBRARY")
    set(CH_RC_FILETYPE VFT_DLL)
  else()
    set(CH_RC_FILETYPE VFT_APP)
    # 1 is the manifest of a program (CREATEPROCESS_MANIFEST_RESOURCE_ID), 24 RT_MANIFEST.
    set(CH_RC_MANIFEST "1 24 \"${PROJECT_SOURCE_DIR}/cmake/program.manifest\"")
    set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc APPEND PROPERTY
                 OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/program.manifest)
  endif()
  string(REPLACE . , CH_RC_VERSION_COMMAS "${CH_FILE_VERSION}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc}.in @ONLY)
  file(GENERATE OUTPUT ${rc} INPUT ${rc}.in)
  target_sources(${target} PRIVATE ${rc})
endfunction()
