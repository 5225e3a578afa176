# Install rules for every preset (`cmake --install build/<preset> --prefix DIR`),
# from which scripts/package.sh makes the packages.
include(GNUInstallDirs)

if(WIN32)
  # One folder to unpack: the plug-in beside the host that loads it, as it
  # sits in a host's plug-in folder.
  set(tlp_install_bin .)
  set(tlp_install_doc docs)
  set(tlp_install_license .)
else()
  # tga-host loads the Targa.tlp beside it; both find the headless window
  # library they share in lib, wherever the folder is unpacked.
  set(tlp_install_bin ${CMAKE_INSTALL_BINDIR})
  set(tlp_install_doc ${CMAKE_INSTALL_DOCDIR})
  set(tlp_install_license ${CMAKE_INSTALL_DOCDIR})
  file(RELATIVE_PATH tlp_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
  set(tlp_install_rpath "$ORIGIN/${tlp_bin_to_lib}")
endif()

# Hosts load the plug-in by path: no import library goes with it.
install(TARGETS Targa
        RUNTIME DESTINATION ${tlp_install_bin}
        LIBRARY DESTINATION ${tlp_install_bin}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} EXCLUDE_FROM_ALL)
# The headless window library is a shared one; on Windows the window
# operations are linked into each module.
if(NOT WIN32)
  install(TARGETS tlpwin LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  set_target_properties(Targa PROPERTIES INSTALL_RPATH "${tlp_install_rpath}")
endif()
if(TARGET tga-host)
  install(TARGETS tga-host RUNTIME DESTINATION ${tlp_install_bin})
  if(NOT WIN32)
    set_target_properties(tga-host PROPERTIES INSTALL_RPATH "${tlp_install_rpath}")
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/docs/tga-host.md DESTINATION ${tlp_install_doc})
endif()
install(FILES ${TLP_HOST_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/host-guide.md DESTINATION ${tlp_install_doc})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${tlp_install_license})
# The example hosts are Windows programs, built from the package's own header.
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/examples/minimal-host.c ${PROJECT_SOURCE_DIR}/examples/viewer.c
          DESTINATION examples)
endif()

# scripts/package.sh packs what this installs, stripped, into an archive of
# the name below: a ZIP for the Windows builds, a gzipped tarball elsewhere.
if(WIN32)
  set(tlp_package_format zip)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(tlp_package_platform win32)
  else()
    set(tlp_package_platform win64)
  endif()
else()
  set(tlp_package_format tar.gz)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" tlp_package_platform)
endif()
file(WRITE ${CMAKE_BINARY_DIR}/package.txt "Targa-${PROJECT_VERSION}-${tlp_package_platform}.${tlp_package_format}\n")
