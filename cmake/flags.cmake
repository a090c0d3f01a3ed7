# Compiler and linker flags for every target: the hardening flags that Linux
# distributions build their packages with (BOXWALK_HARDEN), as Debian's
# dpkg-buildflags and Fedora's redhat-rpm-config give them, and the
# sanitizers (BOXWALK_SANITIZE). The program parses hostile files; these turn
# a memory fault into a stopped program instead of a foothold.
include(CheckCXXCompilerFlag)
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
  # package: a span index out of range stops the program.
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
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
    # Full RELRO: the relocated tables read-only, every symbol bound at start.
    add_link_options(LINKER:-z,relro LINKER:-z,now)
    check_linker_flag(CXX -static-pie BOXWALK_LINKER_HAS_STATIC_PIE)
  endif()
endif()

# WebAssembly's bulk memory instructions: a copy is one instruction, not a
# loop or a call into JavaScript. The program's run in the browser spends
# most of its time copying text and columns: a third less time with them.
# Every browser that runs the page has them.
if(EMSCRIPTEN)
  add_compile_options(-mbulk-memory)
  add_link_options(-mbulk-memory)
endif()
