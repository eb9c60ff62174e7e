# Warnings for Corvella's own targets only; third-party code keeps its own.
function(corvella_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow=local -Wno-unused-parameter)
  if(CORVELLA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
