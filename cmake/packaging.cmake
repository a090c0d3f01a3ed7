# Install layout and packages. `cmake --install` puts the program in bin/,
# the manual page (compressed) in share/man/man1/, the documents in
# share/doc/boxwalk/ and the sample files that the manual page's examples
# run on in share/doc/boxwalk/examples/. `cpack` in a build tree makes the
# package that the build is for:
# - a dynamically linked Linux build: the Debian package, with the
#   copyright and changelog that Debian asks for;
# - a static Linux build (BOXWALK_STATIC): the standalone .tar.gz, with the
#   README and the LICENSE;
# - a Windows build: a zip with boxwalk.exe, the README, the LICENSE, the
#   manual page as plain text (boxwalk.txt) and the samples in examples/.
# With BOXWALK_PAGE each also carries the page, boxwalk.html (in
# share/boxwalk/, or beside boxwalk.exe), built with emscripten
# (cmake/page.cmake).
# Packages are reproducible: their dates come from SOURCE_DATE_EPOCH, or
# from the last commit when it is unset (cmake/cpack_config.cmake); a
# .tar.gz is written again with fixed owners (cmake/cpack_post_build.cmake).
include(GNUInstallDirs)

# Directories made by the install are 0755 whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(BOXWALK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/boxwalk)
set(BOXWALK_EXAMPLES samples/song.m4a samples/damaged.m4a)
if(BOXWALK_PAGE)
  include(cmake/page.cmake)
  if(WIN32)
    install(FILES ${BOXWALK_PAGE_FILE} DESTINATION .)
  else()
    install(FILES ${BOXWALK_PAGE_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/boxwalk)
  endif()
endif()

if(WIN32)
  install(TARGETS boxwalk RUNTIME DESTINATION .)
  # Windows has no man reader: the manual page goes in as plain ASCII text,
  # without the overstrikes and escape sequences of a terminal. It is
  # rendered when the build is configured, again whenever the page changes.
  find_program(BOXWALK_GROFF groff)
  if(NOT BOXWALK_GROFF)
    message(FATAL_ERROR "groff renders the manual page for the zip: apt-get install groff-base")
  endif()
  set(manual ${PROJECT_BINARY_DIR}/doc/boxwalk.txt)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/doc)
  execute_process(COMMAND ${BOXWALK_GROFF} -man -Tascii -P-cbou ${PROJECT_SOURCE_DIR}/doc/boxwalk.1
    OUTPUT_FILE ${manual} COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS doc/boxwalk.1)
  install(FILES README.md LICENSE ${manual} DESTINATION .)
  install(FILES ${BOXWALK_EXAMPLES} DESTINATION examples)
else()
  install(TARGETS boxwalk RUNTIME)
  # Compressed without a name or a date in the header, as Debian does it.
  find_program(BOXWALK_GZIP gzip REQUIRED)
  set(docs ${PROJECT_BINARY_DIR}/doc)
  file(MAKE_DIRECTORY ${docs})
  add_custom_command(OUTPUT ${docs}/boxwalk.1.gz ${docs}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/doc/boxwalk.1
            ${PROJECT_SOURCE_DIR}/doc/changelog ${docs}
    COMMAND ${BOXWALK_GZIP} -9nf ${docs}/boxwalk.1 ${docs}/changelog
    DEPENDS doc/boxwalk.1 doc/changelog
    COMMENT "Compressing the manual page and the changelog"
    VERBATIM)
  add_custom_target(boxwalk_docs ALL DEPENDS ${docs}/boxwalk.1.gz ${docs}/changelog.gz)
  install(FILES ${docs}/boxwalk.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md DESTINATION ${BOXWALK_DOC_DIR})
  install(FILES ${BOXWALK_EXAMPLES} DESTINATION ${BOXWALK_DOC_DIR}/examples)
  if(BOXWALK_STATIC)
    install(FILES LICENSE DESTINATION ${BOXWALK_DOC_DIR})
  else()
    # Debian's machine-readable copyright file, with the license's text.
    file(READ LICENSE license)
    string(REGEX REPLACE "^.*\n\n(Permission)" "\\1" license "${license}")
    string(REGEX REPLACE "\n$" "" license "${license}")
    string(REGEX REPLACE "\n\n" "\n.\n" license "${license}")
    string(REPLACE "\n" "\n " license "${license}")
    file(CONFIGURE OUTPUT ${docs}/copyright CONTENT [=[
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: boxwalk

Files: *
Copyright: 2026 the boxwalk authors
License: Expat
 @license@
]=] @ONLY)
    install(FILES ${docs}/copyright ${docs}/changelog.gz DESTINATION ${BOXWALK_DOC_DIR})
  endif()
endif()

set(CPACK_PACKAGE_NAME boxwalk)
set(CPACK_PACKAGE_VENDOR "the boxwalk authors")
set(CPACK_PACKAGE_CONTACT "boxwalk maintainers <maintainers@boxwalk.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show how an MP4 file stores its metadata")
# Each line of the Debian description must not start with a dot.
set(CPACK_PACKAGE_DESCRIPTION [=[boxwalk prints the metadata tree of one MP4-family file (the MP4, M4A,
MOV and 3GP formats): the children of the first moov atom with sizes and
offsets, every udta subtree with short previews of leaf payloads, the ilst
item list (plain and freeform tags) and the Xtra attribute atom. It only
reads the file, reports damaged atoms in place and never reads outside the
data, so it can be pointed at broken and hostile files.]=])
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_config.cmake)
set(CPACK_BOXWALK_SOURCE_DIR ${PROJECT_SOURCE_DIR})

if(WIN32)
  set(CPACK_GENERATOR ZIP)
elseif(BOXWALK_STATIC)
  set(CPACK_GENERATOR TGZ)
  string(TOLOWER "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}"
         CPACK_PACKAGE_FILE_NAME)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack_post_build.cmake)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends names the C and C++ runtimes with the versions the program
  # needs, as dpkg-shlibdeps (dpkg-dev) finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
