# Compiler and linker flags for every target: the sanitizers
# (BOXWALK_SANITIZE).
if(BOXWALK_SANITIZE)
  list(JOIN BOXWALK_SANITIZE "," sanitizers)
  add_compile_options(-fsanitize=${sanitizers} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${sanitizers})
endif()
