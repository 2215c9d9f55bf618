# Warnings for our own targets only; third-party headers come in as system includes.
# -DTESSEL_WARNINGS_AS_ERRORS=ON (tools/run-tests.sh, the sanitized build, CI) makes them
# errors.
function(tessel_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
    if(TESSEL_WARNINGS_AS_ERRORS)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()
