# Run by CPack once it has installed and stripped the files in its staging folder
# (CPACK_PRE_BUILD_SCRIPTS), before it makes the .deb files: takes the .comment section (the
# compiler's name and version, which nothing reads) out of every ELF file, as Debian's own
# packaging does.
file(GLOB_RECURSE files LIST_DIRECTORIES false ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*)
foreach(file IN LISTS files)
  if(IS_SYMLINK ${file})
    continue()
  endif()
  file(READ ${file} magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND ${CPACK_EM_STRIP} --remove-section=.comment ${file}
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
