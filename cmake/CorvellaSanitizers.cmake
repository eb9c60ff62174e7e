# Sanitizers apply to the whole build so that every object on the audio path is instrumented.

# The fuzz build is an ASan+UBSan build that also instruments everything for coverage
# (fuzzer-no-link); only the fuzz targets link libFuzzer.
if(CORVELLA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "CORVELLA_FUZZ needs clang: configure with -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
  endif()
  set(CORVELLA_ASAN ON CACHE BOOL "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" FORCE)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

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
