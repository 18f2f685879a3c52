# Installing like a package: `cmake --install` puts the driver and the host log library in
# the library folder with a CMake package (find_package(EM): EM::EM, EM::hostlog) and two
# pkg-config files (em.pc, hostlog.pc), the public headers in include/em, em1sim and the host
# program with their man pages. Everything installed finds the rest by relative paths, so
# the tree works under any prefix. Each file belongs to one install component, which
# cmake/cpack.cmake turns into one Debian package each:
#   runtime      libEM.so.7 (the driver)
#   hostlog      libhostlog.so.1 (the log writer the driver links against)
#   development  headers, the unversioned links, the CMake package and the pkg-config files;
#                the README, the reference and the examples
#   tools        em1 and em1sim with their man pages; the gateway's unit, its page
#                em1-gateway(5) and an example configuration
# On Windows the same tree, with the programs and DLLs side by side in bin, goes into a zip.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(EM_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/em)
set(EM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/EM)
set(EM_HOST_PROGRAM em1)
set(EM_PACKAGE_CONTACT "EM-1 driver team <em1-driver@example.org>" CACHE STRING
    "Maintainer of the packages, as name and mail address")
# The Debian revision: the packages' version is the project's with -1 appended.
set(EM_DEBIAN_REVISION 1)

# Debian's names: lib<name><SONAME version> for a shared library.
set(EM_RUNTIME_PACKAGE libem${PROJECT_VERSION_MAJOR})
get_target_property(hostlog_soversion hostlog SOVERSION)
set(EM_HOSTLOG_PACKAGE libhostlog${hostlog_soversion})
set(EM_DEVELOPMENT_PACKAGE libem-dev)
set(EM_TOOLS_PACKAGE em1-tools)

install(TARGETS EM EXPORT EMTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS hostlog EXPORT EMTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT hostlog
                NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT hostlog
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES EM/interface/em_driver.h hostlog/include/hostlog.h
              ${CMAKE_BINARY_DIR}/generated/em_version.h
        DESTINATION ${EM_INCLUDE_DIR} COMPONENT development)

install(EXPORT EMTargets NAMESPACE EM:: DESTINATION ${EM_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/EMConfig.cmake.in ${CMAKE_BINARY_DIR}/EMConfig.cmake
                              INSTALL_DESTINATION ${EM_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/EMConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/EMConfig.cmake ${CMAKE_BINARY_DIR}/EMConfigVersion.cmake
        DESTINATION ${EM_CMAKE_DIR} COMPONENT development)

# The pkg-config files in two forms, chosen when they are installed: under /usr (the Debian
# packages) they name /usr, so pkg-config knows the system's folders and leaves -I/usr/include
# and -L of the library folder out; under any other prefix they find it from their own place,
# so the tree can be moved.
file(RELATIVE_PATH relocatable_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" relocatable_prefix ${relocatable_prefix})
foreach(pc em hostlog)
  set(EM_PC_PREFIX "\${pcfiledir}/${relocatable_prefix}")
  configure_file(cmake/${pc}.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/relocatable/${pc}.pc @ONLY)
  set(EM_PC_PREFIX /usr)
  configure_file(cmake/${pc}.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/usr/${pc}.pc @ONLY)
endforeach()
install(CODE "
  set(form relocatable)
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(form usr)
  endif()
  file(INSTALL \"${CMAKE_BINARY_DIR}/pkgconfig/\${form}/em.pc\"
               \"${CMAKE_BINARY_DIR}/pkgconfig/\${form}/hostlog.pc\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")"
        COMPONENT development)

if(WIN32)
  # em1.exe finds EM.dll and hostlog.dll beside itself in bin; the README at the top.
  install(TARGETS ${EM_HOST_PROGRAM} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  install(FILES README.md DESTINATION . COMPONENT development)
  include(cmake/cpack.cmake)
  return()
endif()

install(TARGETS em1sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

# The host program loads the driver from the folder of its own program file. It lives in a
# private folder with links to the two libraries, and bin holds a link to it.
set(EM_PRIVATE_DIR ${CMAKE_INSTALL_LIBEXECDIR}/em1)
set(links ${CMAKE_BINARY_DIR}/install-links)
file(RELATIVE_PATH private_to_libdir /prefix/${EM_PRIVATE_DIR} /prefix/${CMAKE_INSTALL_LIBDIR})
file(RELATIVE_PATH bindir_to_private /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${EM_PRIVATE_DIR})
file(MAKE_DIRECTORY ${links}/private ${links}/bin)
# libEM.so is the name em1 loads; libhostlog.so.1 the one em1 itself needs.
file(CREATE_LINK ${private_to_libdir}/libEM.so.${PROJECT_VERSION_MAJOR}
     ${links}/private/libEM.so SYMBOLIC)
file(CREATE_LINK ${private_to_libdir}/libhostlog.so.${hostlog_soversion}
     ${links}/private/libhostlog.so.${hostlog_soversion} SYMBOLIC)
file(CREATE_LINK ${bindir_to_private}/${EM_HOST_PROGRAM} ${links}/bin/${EM_HOST_PROGRAM} SYMBOLIC)
set_target_properties(${EM_HOST_PROGRAM} PROPERTIES INSTALL_RPATH "\$ORIGIN")
install(TARGETS ${EM_HOST_PROGRAM} RUNTIME DESTINATION ${EM_PRIVATE_DIR} COMPONENT tools)
install(FILES ${links}/private/libEM.so ${links}/private/libhostlog.so.${hostlog_soversion}
        DESTINATION ${EM_PRIVATE_DIR} COMPONENT tools)
install(FILES ${links}/bin/${EM_HOST_PROGRAM} DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT tools)

# Man pages made by help2man from each program's --help and --version, with the sections of
# an INCLUDE file where one is given.
find_program(EM_HELP2MAN help2man REQUIRED)
find_program(EM_GZIP gzip REQUIRED)
set(man_pages)
function(em_man_page program description)
  cmake_parse_arguments(PARSE_ARGV 2 page "" "INCLUDE" "")
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  set(include)
  if(page_INCLUDE)
    set(include --include=${page_INCLUDE})
  endif()
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${EM_HELP2MAN} --no-info --no-discard-stderr --name=${description}
            --output=${page} ${include} $<TARGET_FILE:${program}>
    COMMAND ${EM_GZIP} -9nf ${page}
    DEPENDS ${program} ${page_INCLUDE}
    COMMENT "Man page of ${program}"
    VERBATIM)
  set(man_pages ${man_pages} ${page}.gz PARENT_SCOPE)
endfunction()
em_man_page(em1sim "EM-1 instrument simulator on a pseudo-terminal or serial port")
em_man_page(${EM_HOST_PROGRAM} "command-line host of the EM-1 driver"
            INCLUDE ${CMAKE_SOURCE_DIR}/host/em1/cli/em1.h2m)
add_custom_target(man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)

# Every package's documentation folder holds the copyright file and the changelog.
configure_file(cmake/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog.Debian @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
  COMMAND ${EM_GZIP} -9nkf ${CMAKE_BINARY_DIR}/debian/changelog.Debian
  DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian
  COMMENT "Debian changelog"
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz)
foreach(component runtime hostlog development tools)
  string(TOUPPER ${component} upper)
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${EM_${upper}_PACKAGE})
  install(FILES cmake/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
          DESTINATION ${doc_dir} COMPONENT ${component})
  set(EM_${upper}_DOC_DIR ${doc_dir})
endforeach()
# The development package documents itself: the README with everything its links lead to,
# the reference (docs/) and the examples, placed as in the source tree so the links work.
install(FILES README.md CONTRIBUTING.md BENCHMARKS.md DESTINATION ${EM_DEVELOPMENT_DOC_DIR}
        COMPONENT development)
install(DIRECTORY docs DESTINATION ${EM_DEVELOPMENT_DOC_DIR} COMPONENT development)
install(DIRECTORY bench/results DESTINATION ${EM_DEVELOPMENT_DOC_DIR}/bench COMPONENT development)
install(FILES examples/read_one_item.c examples/read_one_item.py
        DESTINATION ${EM_DEVELOPMENT_DOC_DIR}/examples COMPONENT development)
install(FILES simulator/README.md DESTINATION ${EM_DEVELOPMENT_DOC_DIR}/simulator
        COMPONENT development)
# The tools' own: the simulator's README.
install(FILES simulator/README.md DESTINATION ${EM_TOOLS_DOC_DIR} RENAME em1sim.md
        COMPONENT tools)

if(EM1_GATEWAY)
  # em1 gateway as a systemd service, one instance per file under /etc/em1/, with an example
  # file to start from and em1-gateway(5), the page of its file, topics and messages.
  set(EM1_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}/${EM_HOST_PROGRAM})
  set(EM1_EXAMPLE_CONFIG ${CMAKE_INSTALL_PREFIX}/${EM_TOOLS_DOC_DIR}/examples/plant.conf)
  configure_file(host/gateway-service/em1-gateway@.service.in
                 ${CMAKE_BINARY_DIR}/em1-gateway@.service @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/em1-gateway@.service DESTINATION lib/systemd/system
          COMPONENT tools)
  install(FILES host/gateway-service/plant.conf DESTINATION ${EM_TOOLS_DOC_DIR}/examples
          COMPONENT tools)
  set(gateway_page ${CMAKE_BINARY_DIR}/man/em1-gateway.5)
  string(REPLACE "-" "\\-" EM1_EXAMPLE_CONFIG_ROFF ${EM1_EXAMPLE_CONFIG})
  configure_file(host/gateway-service/em1-gateway.5.in ${gateway_page} @ONLY)
  add_custom_command(
    OUTPUT ${gateway_page}.gz
    COMMAND ${EM_GZIP} -9nkf ${gateway_page}
    DEPENDS ${gateway_page}
    COMMENT "Man page em1-gateway(5)"
    VERBATIM)
  add_custom_target(gateway_man_page ALL DEPENDS ${gateway_page}.gz)
  install(FILES ${gateway_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man5 COMPONENT tools)
endif()

# What lintian reports about the driver that does not apply to it, with the reason.
install(FILES cmake/debian/${EM_RUNTIME_PACKAGE}.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${EM_RUNTIME_PACKAGE}
        COMPONENT runtime)

include(cmake/cpack.cmake)
