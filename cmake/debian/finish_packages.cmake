# Run by CPack after it has made the .deb files (CPACK_POST_BUILD_SCRIPTS), for what its DEB
# generator cannot do:
# - takes out the postinst and postrm that only call ldconfig, which CPack writes for every
#   package with a library under /usr/lib; the packages' ldconfig trigger does that work;
# - marks the packages named in CPACK_EM_MULTIARCH_SAME "Multi-Arch: same", so the i386 and
#   amd64 builds of a library install side by side.
# A changed package is rebuilt with dpkg-deb from its unpacked tree.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  set(changed FALSE)
  foreach(script postinst postrm)
    set(path ${tree}/DEBIAN/${script})
    if(EXISTS ${path})
      file(READ ${path} text)
      string(REGEX REPLACE "#!/bin/sh|set -e|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then|ldconfig|fi|[ \t\n]"
             "" rest "${text}")
      if(rest STREQUAL "")
        file(REMOVE ${path})
        set(changed TRUE)
      endif()
    endif()
  endforeach()
  execute_process(COMMAND dpkg-deb --field ${deb} Package OUTPUT_VARIABLE package
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  if(package IN_LIST CPACK_EM_MULTIARCH_SAME)
    file(READ ${tree}/DEBIAN/control control)
    string(STRIP "${control}" control)
    file(WRITE ${tree}/DEBIAN/control "${control}\nMulti-Arch: same\n")
    set(changed TRUE)
  endif()
  if(changed)
    execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${deb}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
