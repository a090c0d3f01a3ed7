# Install layout and packages. `cmake --install` puts the program in bin/
# and the manual page in share/man/man1/; `cpack` in a build tree makes a
# Debian package there, or a zip with boxwalk.exe at its top when the build
# targets Windows.
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS boxwalk RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
else()
  install(TARGETS boxwalk RUNTIME)
  install(FILES doc/boxwalk.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME boxwalk)
set(CPACK_PACKAGE_VENDOR "boxwalk maintainers")
set(CPACK_PACKAGE_CONTACT "boxwalk maintainers <maintainers@boxwalk.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show how an MP4 file stores its metadata")
set(CPACK_PACKAGE_DESCRIPTION [=[boxwalk prints the metadata tree of one MP4-family file (.mp4, .m4a, .mov,
.3gp): the children of the first moov atom with sizes and offsets, every
udta subtree with short previews of leaf payloads, the ilst item list
(plain and freeform tags) and the Xtra attribute atom. It only reads the
file, reports damaged atoms in place and never reads outside the data, so
it can be pointed at broken and hostile files.]=])
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # A static program depends on nothing. Otherwise dpkg-shlibdeps (dpkg-dev)
  # writes the versioned library dependencies; without it the package names
  # the C library alone.
  find_program(BOXWALK_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(BOXWALK_STATIC)
  elseif(BOXWALK_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS libc6)
  endif()
endif()

include(CPack)
