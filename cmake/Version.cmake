# The version and the names the built files carry, all from project(VERSION):
# a generated header for the code (the value UNITED_Verbose reports) and, on
# Windows, a version resource in Targa.tlp and tga-host.exe.
set(TLP_PRODUCT_NAME "Targa plug-in")
set(TLP_COPYRIGHT "Copyright (c) 2026 The Targa plug-in authors")

# The plug-in reports one byte per component, major first.
foreach(part MAJOR MINOR PATCH TWEAK)
  set(n "${PROJECT_VERSION_${part}}")
  if(n STREQUAL "")
    set(n 0)
  endif()
  if(n GREATER 255)
    message(FATAL_ERROR "version ${PROJECT_VERSION}: each component must fit in a byte")
  endif()
  set(TLP_VERSION_${part} ${n})
endforeach()
set(TLP_VERSION_TEXT "${TLP_VERSION_MAJOR}.${TLP_VERSION_MINOR}.${TLP_VERSION_PATCH}.${TLP_VERSION_TWEAK}")
math(EXPR TLP_VERSION_VALUE
     "(${TLP_VERSION_MAJOR} << 24) | (${TLP_VERSION_MINOR} << 16) | (${TLP_VERSION_PATCH} << 8) | ${TLP_VERSION_TWEAK}"
     OUTPUT_FORMAT HEXADECIMAL)

set(tlp_generated_dir ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/TargaVersion.h.in ${tlp_generated_dir}/TargaVersion.h @ONLY)
target_include_directories(Targa PRIVATE ${tlp_generated_dir})
target_include_directories(Targa_seams PRIVATE ${tlp_generated_dir})

# Adds the version resource to a Windows program or library: what the file's
# properties show. FILE_TYPE is VFT_DLL or VFT_APP.
set(tlp_version_rc_template ${CMAKE_CURRENT_LIST_DIR}/VersionInfo.rc.in)
function(tlp_version_resource target original_filename description file_type)
  if(NOT WIN32)
    return()
  endif()
  set(TLP_RC_ORIGINAL_FILENAME "${original_filename}")
  set(TLP_RC_DESCRIPTION "${description}")
  set(TLP_RC_FILE_TYPE "${file_type}")
  get_target_property(TLP_RC_INTERNAL_NAME ${target} OUTPUT_NAME)
  if(NOT TLP_RC_INTERNAL_NAME)
    set(TLP_RC_INTERNAL_NAME ${target})
  endif()
  configure_file(${tlp_version_rc_template} ${tlp_generated_dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${tlp_generated_dir}/${target}.rc)
endfunction()

tlp_version_resource(Targa Targa.tlp "Targa (TGA) image plug-in" VFT_DLL)
if(TARGET tga-host)
  tlp_version_resource(tga-host tga-host.exe "Reference host of the Targa plug-in" VFT_APP)
endif()
