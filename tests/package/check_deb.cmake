# Builds the Debian package of this build tree and checks it as an installer
# would see it: the files it holds, its fields, and that the binary it
# carries runs on the sample.
# cmake -DCPACK=... -DDPKG_DEB=... -DBUILD_DIR=... -DSOURCE_DIR=... -P check_deb.cmake
function(fail what)
  message(FATAL_ERROR "${what}")
endfunction()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    fail("${ARGN} failed (${status}):\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

set(scratch ${BUILD_DIR}/package-check)
file(REMOVE_RECURSE ${scratch})
run(${CPACK} -G DEB -B ${scratch} --config ${BUILD_DIR}/CPackConfig.cmake)
file(GLOB deb ${scratch}/*.deb)
list(LENGTH deb count)
if(NOT count EQUAL 1)
  fail("expected one .deb in ${scratch}, found: ${deb}")
endif()

# Regular files only; directories and their order are dpkg's business.
run(${DPKG_DEB} -c ${deb})
string(REGEX MATCHALL "\n-[^\n]* \\./[^\n]*" files "\n${out}")
string(REGEX REPLACE "\n-[^\n]* \\./" "" files "${files}")
if(NOT files STREQUAL "usr/bin/boxwalk;usr/share/man/man1/boxwalk.1")
  fail("unexpected package contents:\n${out}")
endif()

run(${DPKG_DEB} -f ${deb} Section)
if(NOT out STREQUAL "utils\n")
  fail("Section: ${out}")
endif()
# Static, it needs nothing; otherwise the C and C++ libraries at most.
run(${DPKG_DEB} -f ${deb} Depends)
string(REGEX REPLACE "(libc6|libstdc\\+\\+6|libgcc-s1)( \\(>= [0-9.]+\\))?(, )?" "" others "${out}")
string(STRIP "${others}" others)
if(NOT others STREQUAL "")
  fail("Depends: ${out}")
endif()

run(${DPKG_DEB} -x ${deb} ${scratch}/root)
execute_process(
  COMMAND ${scratch}/root/usr/bin/boxwalk song.m4a
  WORKING_DIRECTORY ${SOURCE_DIR}/samples
  RESULT_VARIABLE status
  OUTPUT_FILE ${scratch}/song.out)
if(NOT status EQUAL 0)
  fail("the packaged boxwalk ended with ${status}")
endif()
run(${CMAKE_COMMAND} -E compare_files ${scratch}/song.out ${SOURCE_DIR}/tests/golden/song.out)
file(REMOVE_RECURSE ${scratch})
