# Install rules: cmake --install <build> [--prefix <dir>] puts
#   bin/vabo (and bin/vabo-plot, where the tool is in the tree)
#   include/vabo/*.h                  the public headers
#   lib/libvabo-numio, libvabo-refine, libvabo-calib
#                                     the libraries (static, or shared with SONAME)
#   lib/cmake/vabo/                   the CMake package: find_package(vabo CONFIG)
#                                     gives vabo::numio, vabo::refine, vabo::calib
#   lib/pkgconfig/vabo-numio.pc, vabo-refine.pc, vabo-calib.pc
#   share/man/man1/vabo.1, share/man/man3/numio.3
#   share/doc/vabo/points.dat         the example calibration
#   share/doc/vabo/points.npt         the same geometry as pyFAI control points
# Every destination comes from GNUInstallDirs.  The package and the
# pkg-config files locate the prefix from where they are installed, so the
# tree may be installed with --prefix or DESTDIR, or moved as a whole.

include(CMakePackageConfigHelpers)

set(VABO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vabo)
set(VABO_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# A program installed beside shared libraries in a private prefix finds them
# through a run path relative to itself; system library directories need none.
if(BUILD_SHARED_LIBS)
  list(FIND CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES ${CMAKE_INSTALL_FULL_LIBDIR} vabo_system_libdir)
  if(vabo_system_libdir EQUAL -1)
    file(RELATIVE_PATH vabo_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(vabo PROPERTIES INSTALL_RPATH "$ORIGIN/${vabo_bin_to_lib}")
  endif()
endif()

install(TARGETS vabo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(EXISTS ${PROJECT_SOURCE_DIR}/tools/vabo-plot)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/vabo-plot DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(TARGETS vabo_numio vabo_refine vabo_calib EXPORT vaboTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${VABO_NUMIO_HEADERS} ${VABO_REFINE_HEADERS} ${VABO_CALIB_HEADERS}
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vabo)

# The CMake package.
install(EXPORT vaboTargets NAMESPACE vabo:: DESTINATION ${VABO_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vaboConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vaboConfig.cmake
  INSTALL_DESTINATION ${VABO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vaboConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vaboConfig.cmake
              ${PROJECT_BINARY_DIR}/vaboConfigVersion.cmake
        DESTINATION ${VABO_CMAKE_DIR})

# pkg-config files.  With relative install directories the prefix is found
# from the file's own place (${pcfiledir}); absolute ones are written as given.
if(IS_ABSOLUTE ${VABO_PKGCONFIG_DIR})
  set(VABO_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH vabo_pc_to_prefix
       ${CMAKE_INSTALL_PREFIX}/${VABO_PKGCONFIG_DIR} ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" vabo_pc_to_prefix "${vabo_pc_to_prefix}")
  set(VABO_PC_PREFIX "\${pcfiledir}/${vabo_pc_to_prefix}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE ${CMAKE_INSTALL_${dir}})
    set(VABO_PC_${dir} ${CMAKE_INSTALL_${dir}})
  else()
    set(VABO_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
foreach(name numio refine calib)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/vabo-${name}.pc.in
                 ${PROJECT_BINARY_DIR}/vabo-${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/vabo-${name}.pc DESTINATION ${VABO_PKGCONFIG_DIR})
endforeach()

# Manuals and the example calibration.
install(FILES ${PROJECT_SOURCE_DIR}/man/vabo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/man/numio.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
install(FILES ${PROJECT_SOURCE_DIR}/examples/points.dat
              ${PROJECT_SOURCE_DIR}/examples/points.npt
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
