# What `cmake --install` lays out: the programs, the static libraries, the
# public headers under include/cyclekit/, a CMake package with the imported
# targets cyclekit::clock, cyclekit::bestof, cyclekit::suite and cyclekit::benchmark,
# pkg-config files and the manual pages.  The front end's <benchmark/benchmark.h>
# goes to include/cyclekit/compat/, a folder of its own, so that it is found only
# by the projects that ask for it and never shadows another copy.  Included by the top-level CMakeLists.txt once every target
# exists.

include(CMakePackageConfigHelpers)

set(CYCLEKIT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/cyclekit)
set(CYCLEKIT_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Every target installed, for the main job to build first (CMakeLists.txt).
set(CYCLEKIT_INSTALLED_TARGETS cyclekit_clock cyclekit_bestof cyclekit_suite cyclekit_benchmark
                               cyclekit_benchmark_main)
if(CYCLEKIT_BUILD_TOOLS)
  install(TARGETS lullwatch hertzle cyclekit-doctor)
  list(APPEND CYCLEKIT_INSTALLED_TARGETS lullwatch hertzle cyclekit-doctor)
  if(TARGET cyclekit-compare)
    install(TARGETS cyclekit-compare)
    list(APPEND CYCLEKIT_INSTALLED_TARGETS cyclekit-compare)
  endif()
endif()

install(TARGETS cyclekit_clock cyclekit_bestof cyclekit_suite cyclekit_benchmark
                cyclekit_benchmark_main
        EXPORT cyclekitTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
set(installed_headers "")
foreach(header IN LISTS CYCLEKIT_PUBLIC_HEADERS)
  list(APPEND installed_headers ${PROJECT_SOURCE_DIR}/${header})
endforeach()
install(FILES ${installed_headers}
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/cyclekit)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/benchmark/include/benchmark
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/cyclekit/compat)

# ---- CMake package ----------------------------------------------------------
install(EXPORT cyclekitTargets NAMESPACE cyclekit::
        DESTINATION ${CYCLEKIT_CMAKE_DIR})
configure_package_config_file(cmake/cyclekitConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/cyclekitConfig.cmake
  INSTALL_DESTINATION ${CYCLEKIT_CMAKE_DIR})
# Before 1.0 a new minor version may change the API.  The pointer-size check
# that this file makes keeps a 32-bit consumer off a 64-bit install.
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/cyclekitConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/cyclekitConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/cyclekitConfigVersion.cmake
        DESTINATION ${CYCLEKIT_CMAKE_DIR})

# ---- pkg-config ---------------------------------------------------------------
# The prefix is found from the .pc file's own folder, so an install under any
# --prefix (or one moved afterwards) needs no edit.  Absolute install folders
# are kept as they are.
function(cyclekit_pc_path var dir)
  if(IS_ABSOLUTE "${dir}")
    set(${var} "${dir}" PARENT_SCOPE)
  else()
    set(${var} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

if(IS_ABSOLUTE "${CYCLEKIT_PKGCONFIG_DIR}")
  set(PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH up /root/${CYCLEKIT_PKGCONFIG_DIR} /root)
  string(REGEX REPLACE "/$" "" up "${up}")
  set(PC_PREFIX "\${pcfiledir}/${up}")
endif()
cyclekit_pc_path(PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
cyclekit_pc_path(PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
set(PC_EXTRA_LIBS "")
if(CYCLEKIT_SANITIZE)
  list(JOIN CYCLEKIT_SANITIZE_LINK_FLAGS " " PC_EXTRA_LIBS)
  string(PREPEND PC_EXTRA_LIBS " ")
endif()
configure_file(cmake/cyclekit.pc.in ${CMAKE_CURRENT_BINARY_DIR}/cyclekit.pc @ONLY)
configure_file(cmake/cyclekit-benchmark.pc.in ${CMAKE_CURRENT_BINARY_DIR}/cyclekit-benchmark.pc
               @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/cyclekit.pc
              ${CMAKE_CURRENT_BINARY_DIR}/cyclekit-benchmark.pc
        DESTINATION ${CYCLEKIT_PKGCONFIG_DIR})

# ---- Manual pages -------------------------------------------------------------
set(CYCLEKIT_MAN_PAGES doc/lullwatch.1 doc/hertzle.1 doc/cyclekit-doctor.1 doc/cyclekit.3
                       doc/cyclekit-compare.1)
foreach(page IN LISTS CYCLEKIT_MAN_PAGES)
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
