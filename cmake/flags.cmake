# Compiler and linker flags for every target: the hardening flags that Linux
# distributions build their packages with (BOXWALK_HARDEN), as Debian's
# dpkg-buildflags and Fedora's redhat-rpm-config give them, and the
# sanitizers (BOXWALK_SANITIZE), each where the compiler and linker take it,
# and how the programs link (boxwalk_link_program). The program parses
# hostile files; these turn a memory fault into a stopped program instead of
# a foothold.
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)

# 64-bit file offsets on 32-bit systems too: files of 2 GiB and more open,
# and their lengths and positions fit.
if(NOT WIN32)
  add_compile_definitions(_FILE_OFFSET_BITS=64)
endif()

if(BOXWALK_SANITIZE)
  list(JOIN BOXWALK_SANITIZE "," sanitizers)
  add_compile_options(-fsanitize=${sanitizers} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${sanitizers})
endif()

if(BOXWALK_HARDEN AND NOT MSVC)
  # Bounds checks in the standard library, as Fedora builds every C++
  # package: a span index out of range stops the program. Each library has
  # its own switch, and libc++ changed its own twice: the first row whose
  # test holds after <version> gives it.
  set(assertions
    "defined(__GLIBCXX__)|_GLIBCXX_ASSERTIONS"
    "_LIBCPP_VERSION >= 180000|_LIBCPP_HARDENING_MODE=_LIBCPP_HARDENING_MODE_FAST"
    "_LIBCPP_VERSION >= 15000|_LIBCPP_ENABLE_ASSERTIONS=1"
    "defined(_LIBCPP_VERSION)|_LIBCPP_DEBUG=0")
  foreach(row ${assertions})
    string(REPLACE "|" ";" row "${row}")
    list(GET row 0 test)
    list(GET row 1 definition)
    string(MAKE_C_IDENTIFIER "BOXWALK_STDLIB_${definition}" has_switch)
    check_cxx_source_compiles("#include <version>\n#if !(${test})\n#error\n#endif\nint main() {}"
                              ${has_switch})
    if(${has_switch})
      add_compile_definitions(${definition})
      break()
    endif()
  endforeach()
  # Checked copies where the size is known; it needs optimisation, and the
  # sanitizers check more without it.
  if(NOT BOXWALK_SANITIZE)
    add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  endif()
  # Each flag where the compiler has it. Control-flow protection is
  # -fcf-protection on x86 and -mbranch-protection on arm64 (clang only
  # warns about the other's). Windows probes every large stack frame
  # already (___chkstk), and MinGW's GCC 12 fails inside on
  # -fstack-clash-protection.
  set(flags -fstack-protector-strong)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i.86)$")
    list(APPEND flags -fcf-protection)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    list(APPEND flags -mbranch-protection=standard)
  endif()
  if(NOT WIN32)
    list(APPEND flags -fstack-clash-protection)
  endif()
  foreach(flag ${flags})
    string(MAKE_C_IDENTIFIER "BOXWALK_CXX_HAS${flag}" has_flag)
    check_cxx_compiler_flag(${flag} ${has_flag})
    if(${has_flag})
      add_compile_options(${flag})
    endif()
  endforeach()
  if(BOXWALK_CXX_HAS_fstack_protector_strong)
    # MinGW links its libssp only when the linker is given the flag too.
    add_link_options(-fstack-protector-strong)
  endif()
  if(NOT WIN32)
    # Position independent, so that the program loads at a random address.
    # The libraries end only in executables: -fPIE, not -fPIC, for them too.
    # src/ links boxwalk itself with -pie or -static-pie.
    add_compile_options(-fPIE)
    # Full RELRO: the relocated tables read-only, every symbol bound at
    # start. ELF linkers take these; Apple's has no -z options.
    foreach(flag LINKER:-z,relro LINKER:-z,now)
      string(MAKE_C_IDENTIFIER "BOXWALK_LINKER_HAS${flag}" has_flag)
      check_linker_flag(CXX ${flag} ${has_flag})
      if(${has_flag})
        add_link_options(${flag})
      endif()
    endforeach()
    check_linker_flag(CXX -pie BOXWALK_LINKER_HAS_PIE)
    check_linker_flag(CXX -static-pie BOXWALK_LINKER_HAS_STATIC_PIE)
  endif()
endif()

# boxwalk_link_program(TARGET): how a program the package installs links.
# Static linking (BOXWALK_STATIC) spares the dynamic loader's work at every
# start, and the standalone program then needs nothing beside it; with
# MinGW (linked statically at the top) it keeps the executable free of
# runtime DLLs. Hardened, the program loads at a random address: static-pie
# or pie where the linker has it.
function(boxwalk_link_program target)
  if(BOXWALK_STATIC AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
    if(BOXWALK_HARDEN AND BOXWALK_LINKER_HAS_STATIC_PIE)
      target_link_options(${target} PRIVATE -static-pie)
    else()
      target_link_options(${target} PRIVATE -static)
    endif()
  elseif(BOXWALK_HARDEN AND BOXWALK_LINKER_HAS_PIE)
    target_link_options(${target} PRIVATE -pie)
  endif()
endfunction()

# WebAssembly's bulk memory instructions: a copy is one instruction, not a
# loop or a call into JavaScript. The program's run in the browser spends
# most of its time copying text and columns: a third less time with them.
# Every browser that runs the page has them.
if(EMSCRIPTEN)
  add_compile_options(-mbulk-memory)
  add_link_options(-mbulk-memory)
endif()
