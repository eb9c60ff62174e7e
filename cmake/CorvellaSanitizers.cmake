# Sanitizers apply to the whole build so that every object on the audio path is instrumented.
if(CORVELLA_ASAN AND CORVELLA_TSAN)
  message(FATAL_ERROR "CORVELLA_ASAN and CORVELLA_TSAN cannot be combined")
endif()

if(CORVELLA_ASAN)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(CORVELLA_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
