# Cross-compiles for 64-bit Windows with mingw-w64 (the posix-threads
# variant, whose libstdc++ has std::thread and friends). Test programs run
# under Wine when it is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BOXWALK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BOXWALK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BOXWALK_MINGW_PREFIX}-g++-posix)

set(CMAKE_FIND_ROOT_PATH /usr/${BOXWALK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(BOXWALK_WINE NAMES wine wine64)
  if(BOXWALK_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${BOXWALK_WINE})
  endif()
endif()
