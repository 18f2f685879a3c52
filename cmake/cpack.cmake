# Packages of the install tree (cmake/packaging.cmake). On Linux, one .deb per install
# component, for the architecture of the build: cpack --preset release (amd64) and
# cpack --preset linux-i686 (i386). On Windows, one zip of the whole tree:
# cpack --preset windows-i686 (EM-<version>-win32.zip) or windows-x64 (-win64.zip).
set(CPACK_PACKAGE_NAME em1-driver)
set(CPACK_PACKAGE_VENDOR "EM-1 driver team")
set(CPACK_PACKAGE_CONTACT ${EM_PACKAGE_CONTACT})
set(CPACK_COMPONENTS_ALL runtime hostlog development tools)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(windows_bits win64)
  else()
    set(windows_bits win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(EM_ZIP_NAME EM-${PROJECT_VERSION}-${windows_bits})
  set(CPACK_PACKAGE_FILE_NAME ${EM_ZIP_NAME})
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${EM_DEBIAN_REVISION})
# What CPack cannot do itself, done on the packages it has made: the ldconfig maintainer
# scripts out (the trigger does their work), Multi-Arch: same in for the packages that
# 32-bit and 64-bit hosts install side by side.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/debian/finish_packages.cmake)
set(CPACK_EM_MULTIARCH_SAME ${EM_RUNTIME_PACKAGE} ${EM_HOSTLOG_PACKAGE} ${EM_DEVELOPMENT_PACKAGE})
# And before it makes them: the compiler's .comment sections out of the stripped files.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/debian/strip_comments.cmake)
set(CPACK_EM_STRIP ${CMAKE_STRIP})
set(CPACK_DEBIAN_PACKAGE_SOURCE em1-driver)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
endif()
# dpkg-shlibdeps runs in each component's staging folder; it finds libhostlog.so.1 in the
# hostlog component's, where no package information describes it, so the packages that
# need it name it themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../hostlog/usr/${CMAKE_INSTALL_LIBDIR})
set(package_version ${PROJECT_VERSION}-${EM_DEBIAN_REVISION})
set(same_version "(= ${package_version})")
set(hostlog_dependency "${EM_HOSTLOG_PACKAGE} (>= ${package_version})")

# The two libraries' packages carry symbols files (cmake/debian/PACKAGE/symbols): a host
# built against them depends on the version that brought the symbols it uses. The package
# test fails when the libraries export anything else.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${EM_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/cmake/debian/triggers
    ${CMAKE_SOURCE_DIR}/cmake/debian/${EM_RUNTIME_PACKAGE}/symbols)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS ${hostlog_dependency})
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "EM-1 driver for the Eurotherm EM-1 process controller
libEM.so.7, the driver library a host application loads to read and write the
data items of a Eurotherm EM-1 process controller over a serial line with the
instrument's ASCII protocol. It exports one C entry point, ZelMain, and writes
its log lines through the host log library.")

set(CPACK_DEBIAN_HOSTLOG_PACKAGE_NAME ${EM_HOSTLOG_PACKAGE})
set(CPACK_DEBIAN_HOSTLOG_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_HOSTLOG_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/cmake/debian/triggers
    ${CMAKE_SOURCE_DIR}/cmake/debian/${EM_HOSTLOG_PACKAGE}/symbols)
set(CPACK_DEBIAN_HOSTLOG_DESCRIPTION
    "host log library of the EM-1 driver
libhostlog.so.1 provides err(), the log writer the EM-1 driver calls: one line
per call with a time stamp and the level, to standard error or a file, filtered
by a level mask. Its symbols carry the version HOSTLOG_1, so the driver never
binds the C library's err(3).")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${EM_DEVELOPMENT_PACKAGE})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "${EM_RUNTIME_PACKAGE} ${same_version}, ${EM_HOSTLOG_PACKAGE} ${same_version}")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "development files of the EM-1 driver
The public headers <em/em_driver.h>, <em/hostlog.h> and <em/em_version.h>,
the links libEM.so and libhostlog.so, the CMake package (find_package(EM):
EM::EM and EM::hostlog) and the pkg-config files em.pc and hostlog.pc. The
reference of every command and record, and example hosts in C and Python,
are in /usr/share/doc/libem-dev.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${EM_TOOLS_PACKAGE})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${EM_RUNTIME_PACKAGE} ${same_version}, ${hostlog_dependency}")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "command-line host and simulator of the EM-1 driver
em1 drives a Eurotherm EM-1 process controller through the EM-1 driver as a
host application does: it reads and writes data items, loops, modules and
alerts. em1 gateway serves instruments to an MQTT broker, as a systemd service
(em1-gateway(5)). em1sim simulates the instrument on a pseudo-terminal or
serial port.")

include(CPack)
