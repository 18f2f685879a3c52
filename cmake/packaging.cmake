# Installing like a package: `cmake --install` puts the driver and the host log library in
# the library folder with a CMake package (find_package(EM): EM::EM, EM::hostlog) and a
# pkg-config file (em.pc), the public headers in include/em, em1sim and the host program with
# their man pages; CPack makes a .deb of the same tree. Everything installed finds the rest
# by relative paths, so the tree works under any prefix.
set(CMAKE_INSTALL_DOCDIR share/doc/em1-driver)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(EM_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/em)
set(EM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/EM)

install(TARGETS EM hostlog EXPORT EMTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${EM_INCLUDE_DIR})
install(FILES EM/interface/em_driver.h hostlog/include/hostlog.h DESTINATION ${EM_INCLUDE_DIR})

install(EXPORT EMTargets NAMESPACE EM:: DESTINATION ${EM_CMAKE_DIR})
configure_package_config_file(cmake/EMConfig.cmake.in ${CMAKE_BINARY_DIR}/EMConfig.cmake
                              INSTALL_DESTINATION ${EM_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/EMConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/EMConfig.cmake ${CMAKE_BINARY_DIR}/EMConfigVersion.cmake
        DESTINATION ${EM_CMAKE_DIR})

file(RELATIVE_PATH EM_PC_PREFIX_FROM_PCDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" EM_PC_PREFIX_FROM_PCDIR ${EM_PC_PREFIX_FROM_PCDIR})
configure_file(cmake/em.pc.in ${CMAKE_BINARY_DIR}/em.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/em.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(EM_HOST_PROGRAM em1)

if(WIN32)
  # On Windows the host program finds EM.dll beside itself in bin.
  install(TARGETS ${EM_HOST_PROGRAM} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  return()
endif()

install(TARGETS em1sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The host program loads the driver from the folder of its own program file. It lives in a
# private folder with links to the two libraries, and bin holds a link to it.
set(EM_PRIVATE_DIR ${CMAKE_INSTALL_LIBEXECDIR}/em1)
set(links ${CMAKE_BINARY_DIR}/install-links)
file(RELATIVE_PATH private_to_libdir /prefix/${EM_PRIVATE_DIR} /prefix/${CMAKE_INSTALL_LIBDIR})
file(RELATIVE_PATH bindir_to_private /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${EM_PRIVATE_DIR})
file(MAKE_DIRECTORY ${links}/private ${links}/bin)
foreach(library libEM.so libhostlog.so)
  file(CREATE_LINK ${private_to_libdir}/${library} ${links}/private/${library} SYMBOLIC)
endforeach()
file(CREATE_LINK ${bindir_to_private}/${EM_HOST_PROGRAM} ${links}/bin/${EM_HOST_PROGRAM} SYMBOLIC)
set_target_properties(${EM_HOST_PROGRAM} PROPERTIES INSTALL_RPATH "\$ORIGIN")
install(TARGETS ${EM_HOST_PROGRAM} RUNTIME DESTINATION ${EM_PRIVATE_DIR})
install(FILES ${links}/private/libEM.so ${links}/private/libhostlog.so
        DESTINATION ${EM_PRIVATE_DIR})
install(FILES ${links}/bin/${EM_HOST_PROGRAM} DESTINATION ${CMAKE_INSTALL_BINDIR})

# Man pages made by help2man from each program's --help and --version.
find_program(EM_HELP2MAN help2man REQUIRED)
find_program(EM_GZIP gzip REQUIRED)
set(man_pages)
function(em_man_page program description)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${EM_HELP2MAN} --no-info --no-discard-stderr --name=${description}
            --output=${page} ${ARGN} $<TARGET_FILE:${program}>
    COMMAND ${EM_GZIP} -9nf ${page}
    DEPENDS ${program}
    COMMENT "Man page of ${program}"
    VERBATIM)
  set(man_pages ${man_pages} ${page}.gz PARENT_SCOPE)
endfunction()
em_man_page(em1sim "EM-1 instrument simulator on a pseudo-terminal or serial port")
em_man_page(${EM_HOST_PROGRAM} "command-line host of the EM-1 driver")
add_custom_target(man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# em1 gateway as a systemd service, one instance per file under /etc/em1/.
set(EM1_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}/${EM_HOST_PROGRAM})
configure_file(host/gateway-service/em1-gateway@.service.in
               ${CMAKE_BINARY_DIR}/em1-gateway@.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/em1-gateway@.service DESTINATION lib/systemd/system)
install(FILES simulator/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME em1sim.md)

# The Debian package: cpack --preset release.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME em1-driver)
set(CPACK_PACKAGE_VENDOR "EM-1 driver team")
set(CPACK_PACKAGE_CONTACT "EM-1 driver team <em1-driver@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "EM-1 driver for the Eurotherm EM-1 process controller, its host and simulator")
set(CPACK_PACKAGE_DESCRIPTION
    "libEM.so, the driver a host loads to read and write the data items of a Eurotherm EM-1
over a serial line with the instrument's ASCII protocol; libhostlog.so, the host log library
that gives the driver err(); the public headers with a CMake package and a pkg-config file;
the command-line host; and em1sim, a simulator of the instrument.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
