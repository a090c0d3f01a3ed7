# Install layout and packages. `cmake --install` puts the programs
# (boxwalk, and boxwalk-json where the target has an XML parser) in bin/,
# the manual pages (compressed) in share/man/man1/, the documents in
# share/doc/boxwalk/ and the sample files that the manual page's examples
# run on in share/doc/boxwalk/examples/. `cpack` in a build tree makes the
# package that the build is for:
# - a dynamically linked Linux build: the Debian package, with the
#   copyright and changelog that Debian asks for;
# - a static Linux build (BOXWALK_STATIC): the standalone .tar.gz, with the
#   README and the LICENSE;
# - a Windows build: a zip with boxwalk.exe and boxwalk-json.exe, the
#   README, the LICENSE, the manual pages as plain text (boxwalk.txt,
#   boxwalk-json.txt) and the samples in examples/.
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
set(BOXWALK_PROGRAMS boxwalk)
set(BOXWALK_MANUALS boxwalk)
if(TARGET boxwalk-json)
  list(APPEND BOXWALK_PROGRAMS boxwalk-json)
  list(APPEND BOXWALK_MANUALS boxwalk-json)
endif()
if(BOXWALK_PAGE)
  include(cmake/page.cmake)
  if(WIN32)
    install(FILES ${BOXWALK_PAGE_FILE} DESTINATION .)
  else()
    install(FILES ${BOXWALK_PAGE_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/boxwalk)
  endif()
endif()

# The notices of the kept libraries compiled into boxwalk-json: RapidJSON
# (header-only), and expat where it is linked statically (XmlLite is
# Windows' own), from Debian's copyright files of their packages.
set(BOXWALK_NOTICES "")
if(TARGET boxwalk-json)
  set(BOXWALK_NOTICES ${PROJECT_BINARY_DIR}/doc/third-party-notices.txt)
  set(libraries rapidjson-dev)
  if(BOXWALK_STATIC AND NOT WIN32)
    list(APPEND libraries libexpat1-dev)
  endif()
  set(text "boxwalk-json is built with these libraries, under these terms.\n")
  foreach(library ${libraries})
    find_file(BOXWALK_COPYRIGHT_${library} copyright PATHS /usr/share/doc/${library}
              NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT BOXWALK_COPYRIGHT_${library})
      message(FATAL_ERROR "/usr/share/doc/${library}/copyright not found: the package "
                          "carries the notice of each library compiled in")
    endif()
    file(READ ${BOXWALK_COPYRIGHT_${library}} notice)
    string(APPEND text "\n== ${library}\n\n${notice}")
  endforeach()
  file(WRITE ${BOXWALK_NOTICES} "${text}")
endif()

if(WIN32)
  install(TARGETS ${BOXWALK_PROGRAMS} RUNTIME DESTINATION .)
  # Windows has no man reader: the manual pages go in as plain ASCII text,
  # without the overstrikes and escape sequences of a terminal. They are
  # rendered when the build is configured, again whenever a page changes.
  find_program(BOXWALK_GROFF groff)
  if(NOT BOXWALK_GROFF)
    message(FATAL_ERROR "groff renders the manual page for the zip: apt-get install groff-base")
  endif()
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/doc)
  set(manual "")
  foreach(page ${BOXWALK_MANUALS})
    execute_process(COMMAND ${BOXWALK_GROFF} -man -Tascii -P-cbou
                            ${PROJECT_SOURCE_DIR}/doc/${page}.1
      OUTPUT_FILE ${PROJECT_BINARY_DIR}/doc/${page}.txt COMMAND_ERROR_IS_FATAL ANY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS doc/${page}.1)
    list(APPEND manual ${PROJECT_BINARY_DIR}/doc/${page}.txt)
  endforeach()
  install(FILES README.md LICENSE ${manual} ${BOXWALK_NOTICES} DESTINATION .)
  install(FILES ${BOXWALK_EXAMPLES} DESTINATION examples)
else()
  install(TARGETS ${BOXWALK_PROGRAMS} RUNTIME)
  # Compressed without a name or a date in the header, as Debian does it.
  find_program(BOXWALK_GZIP gzip REQUIRED)
  set(docs ${PROJECT_BINARY_DIR}/doc)
  file(MAKE_DIRECTORY ${docs})
  set(pages "")
  set(sources "")
  foreach(page ${BOXWALK_MANUALS})
    list(APPEND pages ${docs}/${page}.1)
    list(APPEND sources doc/${page}.1)
  endforeach()
  list(TRANSFORM pages APPEND .gz OUTPUT_VARIABLE compressed)
  add_custom_command(OUTPUT ${compressed} ${docs}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${sources} doc/changelog ${docs}
    COMMAND ${BOXWALK_GZIP} -9nf ${pages} ${docs}/changelog
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    DEPENDS ${sources} doc/changelog
    COMMENT "Compressing the manual pages and the changelog"
    VERBATIM)
  add_custom_target(boxwalk_docs ALL DEPENDS ${compressed} ${docs}/changelog.gz)
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md ${BOXWALK_NOTICES} DESTINATION ${BOXWALK_DOC_DIR})
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
data, so it can be pointed at broken and hostile files. boxwalk-json prints
the same for many files as JSON Lines, with every tag a file holds
wherever it is stored, for scripts and inventories.]=])
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
  # Depends names the C and C++ runtimes and expat with the versions the
  # programs need, as dpkg-shlibdeps (dpkg-dev) finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
