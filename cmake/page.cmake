# The page, boxwalk.html, for the package of a native build: this project
# built again by Debian's emscripten in web/ of the build folder, which the
# package then carries beside the program. Without emscripten, building
# says what to install.
find_file(BOXWALK_EMSCRIPTEN_TOOLCHAIN Emscripten.cmake
  PATHS /usr/share/emscripten/cmake/Modules/Platform NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
set(BOXWALK_PAGE_FILE ${PROJECT_BINARY_DIR}/web/page/boxwalk.html)
if(NOT BOXWALK_EMSCRIPTEN_TOOLCHAIN)
  add_custom_target(boxwalk_page ALL
    COMMAND ${CMAKE_COMMAND} -E echo "emscripten builds the page (boxwalk.html) that the package"
            "carries: apt-get install emscripten, or configure with -DBOXWALK_PAGE=OFF"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
  return()
endif()
include(ExternalProject)
ExternalProject_Add(boxwalk_page
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${PROJECT_BINARY_DIR}/web
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${BOXWALK_EMSCRIPTEN_TOOLCHAIN} -DCMAKE_BUILD_TYPE=Release
             -DCMAKE_COMPILE_WARNING_AS_ERROR=${CMAKE_COMPILE_WARNING_AS_ERROR}
             -DBOXWALK_HARDEN=OFF -DBOXWALK_BENCH=OFF -DBOXWALK_BUILD_TESTS=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target boxwalk_html
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${BOXWALK_PAGE_FILE})
