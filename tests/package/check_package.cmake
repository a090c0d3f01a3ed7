# Makes the package of this build tree (GENERATOR: DEB, TGZ or ZIP) and
# checks it as an installer would see it: its files, fields and owners,
# stripped programs that run on the samples installed beside them (boxwalk
# and boxwalk-json), lintian and hardening-check when they are installed. The Windows zip is checked
# for its files, the manual page as plain text and the program, run under
# EMULATOR (Wine) when cross-compiled. With PAGE on, each carries the page,
# boxwalk.html, as the build wrote it. Then builds the package again in
# another folder, configured with CMAKE_ARGS: the bytes must match.
# cmake -DGENERATOR=DEB|TGZ -DCPACK=... -DREADELF=... -DBUILD_DIR=... -DSOURCE_DIR=...
#       -DCMAKE_ARGS=... -DPAGE=ON|OFF [-DDPKG_DEB=...] [-DLINTIAN=...] [-DHARDENING_CHECK=...]
#       -P check_package.cmake
# cmake -DGENERATOR=ZIP -DCPACK=... -DBUILD_DIR=... -DSOURCE_DIR=... -DCMAKE_ARGS=... -DPAGE=ON|OFF
#       [-DEMULATOR=...] -P check_package.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${status}):\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# pack(FOLDER BUILD VARIABLE): the one package that cpack makes from BUILD.
function(pack folder build variable)
  run(${CPACK} -G ${GENERATOR} -B ${folder} --config ${build}/CPackConfig.cmake)
  file(GLOB made LIST_DIRECTORIES false ${folder}/*.deb ${folder}/*.tar.gz ${folder}/*.zip)
  list(LENGTH made count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one package in ${folder}, found: ${made}")
  endif()
  set(${variable} ${made} PARENT_SCOPE)
endfunction()

set(scratch ${BUILD_DIR}/package-check-${GENERATOR})
file(REMOVE_RECURSE ${scratch})
pack(${scratch}/first ${BUILD_DIR} package)
set(root ${scratch}/root)
file(MAKE_DIRECTORY ${root})

if(GENERATOR STREQUAL "DEB")
  # Regular files only; directories are dpkg's business.
  run(${DPKG_DEB} -c ${package})
  string(REGEX MATCHALL "\n-[^\n]* \\./[^\n]*" files "\n${out}")
  string(REGEX REPLACE "\n-[^\n]* \\./" "" files "${files}")
  set(doc usr/share/doc/boxwalk)
  set(expected usr/bin/boxwalk usr/bin/boxwalk-json ${doc}/README.md ${doc}/changelog.gz
               ${doc}/third-party-notices.txt
               ${doc}/copyright ${doc}/examples/damaged.m4a ${doc}/examples/song.m4a
               usr/share/man/man1/boxwalk.1.gz usr/share/man/man1/boxwalk-json.1.gz)
  set(page usr/share/boxwalk/boxwalk.html)
  run(${DPKG_DEB} -x ${package} ${root})
  set(program ${root}/usr/bin/boxwalk)
  set(json_program ${root}/usr/bin/boxwalk-json)
  set(examples ${root}/${doc}/examples)
  run(${DPKG_DEB} -f ${package} Section Depends)
  # The C and C++ runtimes and expat with versions from dpkg-shlibdeps,
  # nothing else.
  string(REGEX REPLACE "(libc6|libstdc\\+\\+6|libgcc-s1|libexpat1) \\(>= [0-9.]+\\)(, )?" ""
         others "${out}")
  if(NOT out MATCHES "libc6 \\(>=.*libstdc\\+\\+6 \\(>=" OR NOT others STREQUAL "Section: utils\nDepends: \n")
    message(SEND_ERROR "fields:\n${out}")
  endif()
else()
  if(GENERATOR STREQUAL "TGZ")
    # Owned by root whoever built it; regular files only.
    run(${CMAKE_COMMAND} -E tar tvf ${package})
    string(REGEX MATCHALL "(^|\n)[^ ]+ +[0-9]+ +[^ ]+" owners "${out}")
    list(FILTER owners EXCLUDE REGEX " (root|0)$")
    if(owners)
      message(SEND_ERROR "files not owned by root:\n${out}")
    endif()
  endif()
  run(${CMAKE_COMMAND} -E tar tf ${package})
  string(REGEX MATCHALL "[^\n]*[^/\n]\n" files "${out}")
  string(REPLACE "\n" "" files "${files}")
  get_filename_component(top ${package} NAME)
  string(REGEX REPLACE "\\.(tar\\.gz|zip)$" "" top ${top})
  if(GENERATOR STREQUAL "TGZ")
    set(doc ${top}/share/doc/boxwalk)
    set(expected ${top}/bin/boxwalk ${top}/bin/boxwalk-json ${doc}/LICENSE ${doc}/README.md
                 ${doc}/third-party-notices.txt
                 ${doc}/examples/damaged.m4a ${doc}/examples/song.m4a
                 ${top}/share/man/man1/boxwalk.1.gz ${top}/share/man/man1/boxwalk-json.1.gz)
    set(page ${top}/share/boxwalk/boxwalk.html)
    set(program ${root}/${top}/bin/boxwalk)
    set(json_program ${root}/${top}/bin/boxwalk-json)
    set(examples ${root}/${doc}/examples)
  else()
    set(expected ${top}/LICENSE ${top}/README.md ${top}/boxwalk.exe ${top}/boxwalk.txt
                 ${top}/boxwalk-json.exe ${top}/boxwalk-json.txt ${top}/third-party-notices.txt
                 ${top}/examples/damaged.m4a ${top}/examples/song.m4a)
    set(page ${top}/boxwalk.html)
    set(program ${root}/${top}/boxwalk.exe)
    set(json_program ${root}/${top}/boxwalk-json.exe)
    set(examples ${root}/${top}/examples)
  endif()
  run(${CMAKE_COMMAND} -E chdir ${root} ${CMAKE_COMMAND} -E tar xf ${package})
endif()
if(PAGE)
  list(APPEND expected ${page})
endif()
list(SORT files)
list(SORT expected)
if(NOT files STREQUAL expected)
  message(SEND_ERROR "package files: ${files}\nexpected: ${expected}")
endif()
if(PAGE)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${root}/${page}
                          ${BUILD_DIR}/web/page/boxwalk.html RESULT_VARIABLE differ)
  if(differ)
    message(SEND_ERROR "the packaged page is not the one the build wrote")
  endif()
endif()

if(GENERATOR STREQUAL "ZIP")
  # The manual page as a Windows editor shows it: plain text, whose headings
  # an overstrike (backspace) or an escape sequence would break.
  foreach(name boxwalk boxwalk-json)
    file(READ ${root}/${top}/${name}.txt manual)
    if(NOT manual MATCHES "\nNAME\n +${name} - .*\nEXAMPLES\n")
      message(SEND_ERROR "${name}.txt is not the manual page as plain text:\n${manual}")
    endif()
  endforeach()
else()
  # The .deb carries dynamically linked programs, the .tar.gz static ones;
  # all stripped.
  foreach(each ${program} ${json_program})
    run(${READELF} -l -S ${each})
    if(out MATCHES "INTERP")
      set(linking DEB)
    else()
      set(linking TGZ)
    endif()
    if(NOT linking STREQUAL GENERATOR)
      message(SEND_ERROR "the packaged ${each} is linked wrongly:\n${out}")
    endif()
    if(out MATCHES "\\.symtab")
      message(SEND_ERROR "the packaged ${each} is not stripped")
    endif()
  endforeach()
endif()

# The manual page's examples run in the installed examples folder.
foreach(sample song damaged)
  execute_process(COMMAND ${EMULATOR} ${program} ${sample}.m4a WORKING_DIRECTORY ${examples}
    RESULT_VARIABLE status OUTPUT_FILE ${scratch}/${sample}.out)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${scratch}/${sample}.out
                          ${SOURCE_DIR}/tests/golden/${sample}.out RESULT_VARIABLE differ)
  if(NOT status EQUAL 0 OR differ)
    message(SEND_ERROR "the packaged boxwalk on ${sample}.m4a ended with ${status}; "
                       "its output differs: ${differ}")
  endif()
endforeach()
# boxwalk-json runs: an object for each sample, whose lines its tests
# hold to the console's.
execute_process(COMMAND ${EMULATOR} ${json_program} song.m4a damaged.m4a
  WORKING_DIRECTORY ${examples} RESULT_VARIABLE status OUTPUT_VARIABLE objects)
set(object "{\"schema\":1,\"path\":")
if(NOT status EQUAL 0 OR NOT objects MATCHES "^${object}\"song.m4a\".*\n${object}\"damaged.m4a\".*\n$")
  message(SEND_ERROR "the packaged boxwalk-json ended with ${status}:\n${objects}")
endif()

if(LINTIAN)
  execute_process(COMMAND ${LINTIAN} --fail-on error,warning ${package}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(SEND_ERROR "lintian (${status}):\n${out}${err}")
  endif()
endif()
if(HARDENING_CHECK)
  # Fortified functions are not required: the program's buffers are sized
  # at run time, so no call can be checked at compile time.
  string(CONCAT wanted "Position Independent Executable: yes.*Stack protected: yes.*"
                "Read-only relocations: yes.*Immediate binding: yes")
  foreach(each ${program} ${json_program})
    execute_process(COMMAND ${HARDENING_CHECK} ${each} OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT out MATCHES "${wanted}")
      message(SEND_ERROR "hardening-check on ${each}:\n${out}${err}")
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
  message(FATAL_ERROR "two builds differ: ${package} and ${second}")
endif()
file(REMOVE_RECURSE ${scratch})
