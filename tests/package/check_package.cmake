# Makes the package of this build tree (GENERATOR: DEB or TGZ) and checks it
# as an installer would see it: the files it holds, its fields, a stripped
# program that runs on the sample, lintian and hardening-check when they are
# installed (LINTIAN, HARDENING_CHECK). Then builds the package again in
# another folder and requires the same bytes.
# cmake -DGENERATOR=DEB|TGZ -DCPACK=... -DREADELF=... -DBUILD_DIR=... -DSOURCE_DIR=...
#       -DCMAKE_ARGS=... [-DDPKG_DEB=...] [-DLINTIAN=...] [-DHARDENING_CHECK=...]
#       -P check_package.cmake
set(problems "")
function(fail what)
  message(FATAL_ERROR "${what}")
endfunction()
function(complain what)
  set(problems "${problems}${what}\n" PARENT_SCOPE)
endfunction()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    fail("${ARGN} failed (${status}):\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# pack(FOLDER BUILD VARIABLE): the one package that cpack makes from BUILD.
function(pack folder build variable)
  run(${CPACK} -G ${GENERATOR} -B ${folder} --config ${build}/CPackConfig.cmake)
  file(GLOB made LIST_DIRECTORIES false ${folder}/*.deb ${folder}/*.tar.gz)
  list(LENGTH made count)
  if(NOT count EQUAL 1)
    fail("expected one package in ${folder}, found: ${made}")
  endif()
  set(${variable} ${made} PARENT_SCOPE)
endfunction()

set(scratch ${BUILD_DIR}/package-check-${GENERATOR})
file(REMOVE_RECURSE ${scratch})
pack(${scratch}/first ${BUILD_DIR} package)
set(root ${scratch}/root)
file(MAKE_DIRECTORY ${root})

# The regular files it holds; directories are the package tool's business.
if(GENERATOR STREQUAL "DEB")
  run(${DPKG_DEB} -c ${package})
  string(REGEX MATCHALL "\n-[^\n]* \\./[^\n]*" files "\n${out}")
  string(REGEX REPLACE "\n-[^\n]* \\./" "" files "${files}")
  set(expected usr/bin/boxwalk usr/share/doc/boxwalk/README.md
      usr/share/doc/boxwalk/changelog.gz usr/share/doc/boxwalk/copyright
      usr/share/man/man1/boxwalk.1.gz)
  run(${DPKG_DEB} -x ${package} ${root})
  set(program ${root}/usr/bin/boxwalk)

  run(${DPKG_DEB} -f ${package} Section)
  if(NOT out STREQUAL "utils\n")
    complain("Section: ${out}")
  endif()
  # The C and C++ runtimes, with versions from dpkg-shlibdeps, and nothing
  # else.
  run(${DPKG_DEB} -f ${package} Depends)
  if(NOT out MATCHES "libc6 \\(>= [0-9.]+\\)" OR NOT out MATCHES "libstdc\\+\\+6 \\(>= [0-9.]+\\)")
    complain("Depends lacks a versioned libc6 or libstdc++6: ${out}")
  endif()
  string(REGEX REPLACE "(libc6|libstdc\\+\\+6|libgcc-s1) \\(>= [0-9.]+\\)(, )?" "" others "${out}")
  string(STRIP "${others}" others)
  if(NOT others STREQUAL "")
    complain("Depends: ${out}")
  endif()
  run(${READELF} -l ${program})
  if(NOT out MATCHES "INTERP")
    complain("the packaged program is not linked dynamically")
  endif()
else()
  run(${CMAKE_COMMAND} -E tar tf ${package})
  string(REGEX REPLACE "\n$" "" files "${out}")
  string(REGEX REPLACE "\n" ";" files "${files}")
  list(FILTER files EXCLUDE REGEX "/$")
  get_filename_component(top ${package} NAME)
  string(REGEX REPLACE "\\.tar\\.gz$" "" top ${top})
  set(expected ${top}/bin/boxwalk ${top}/share/doc/boxwalk/LICENSE ${top}/share/doc/boxwalk/README.md
      ${top}/share/man/man1/boxwalk.1.gz)
  # Owned by root, whoever built it.
  run(${CMAKE_COMMAND} -E tar tvf ${package})
  string(REGEX MATCHALL "\n[^ ]+ +[0-9]+ +[^ ]+ +[^ ]+" owners "\n${out}")
  list(FILTER owners EXCLUDE REGEX " (root|0) +(root|0)$")
  if(owners)
    complain("files not owned by root:${owners}")
  endif()
  run(${CMAKE_COMMAND} -E chdir ${root} ${CMAKE_COMMAND} -E tar xf ${package})
  set(program ${root}/${top}/bin/boxwalk)

  run(${READELF} -l ${program})
  if(out MATCHES "INTERP")
    complain("the standalone program is linked dynamically")
  endif()
endif()
list(SORT files)
if(NOT files STREQUAL expected)
  complain("package files: ${files}\nexpected: ${expected}")
endif()

# Stripped: no symbol table.
run(${READELF} -S ${program})
if(out MATCHES "\\.symtab")
  complain("the packaged program is not stripped")
endif()

execute_process(COMMAND ${program} song.m4a
  WORKING_DIRECTORY ${SOURCE_DIR}/samples
  RESULT_VARIABLE status
  OUTPUT_FILE ${scratch}/song.out)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${scratch}/song.out
                        ${SOURCE_DIR}/tests/golden/song.out RESULT_VARIABLE differ)
if(NOT status EQUAL 0 OR differ)
  complain("the packaged boxwalk ended with ${status}; its output differs: ${differ}")
endif()

if(LINTIAN)
  execute_process(COMMAND ${LINTIAN} --fail-on error,warning ${package}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    complain("lintian (${status}):\n${out}${err}")
  endif()
endif()
if(HARDENING_CHECK)
  # Fortified functions are left out: the program's buffers are sized at
  # run time, so no call can be checked at compile time.
  execute_process(COMMAND ${HARDENING_CHECK} ${program} OUTPUT_VARIABLE out ERROR_VARIABLE err)
  foreach(property "Position Independent Executable" "Stack protected"
                   "Read-only relocations" "Immediate binding")
    if(NOT out MATCHES "${property}: yes")
      complain("hardening-check:\n${out}${err}")
      break()
    endif()
  endforeach()
endif()

# The same commit built again, in another folder and later: the same bytes.
set(again ${scratch}/again)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${again} ${CMAKE_ARGS}
    -DBOXWALK_BUILD_TESTS=OFF -DBOXWALK_BENCH=OFF)
run(${CMAKE_COMMAND} --build ${again})
pack(${again}/packages ${again} second)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${package} ${second}
  RESULT_VARIABLE differ)
if(differ)
  complain("two builds differ: ${package} and ${second}")
endif()

if(problems)
  fail("${problems}")
endif()
file(REMOVE_RECURSE ${scratch})
