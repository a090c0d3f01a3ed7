# Run by cpack on the packages it made. The archive generator records each
# file's owner as it finds it, so a .tar.gz would name whoever built it: it
# is written again with root as every owner, the names sorted and the dates
# of SOURCE_DATE_EPOCH, compressed without a name or a date in the header.
foreach(package ${CPACK_PACKAGE_FILES})
  if(NOT package MATCHES "\\.tar\\.gz$")
    continue()
  endif()
  set(tree ${package}.tree)
  file(REMOVE_RECURSE ${tree})
  file(MAKE_DIRECTORY ${tree})
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${package}
    WORKING_DIRECTORY ${tree} COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB top RELATIVE ${tree} ${tree}/*)
  execute_process(
    COMMAND tar --create --format=gnu --sort=name --owner=0 --group=0 --numeric-owner
            --mode=go-w --mtime=@$ENV{SOURCE_DATE_EPOCH} ${top}
    COMMAND gzip -9n
    WORKING_DIRECTORY ${tree}
    OUTPUT_FILE ${package}
    COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
