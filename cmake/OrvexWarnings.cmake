# Strict warnings, treated as errors, for the project's own targets.
function(orvex_strict target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
                               -Wformat=2 -Wcast-qual -Wundef -Werror>)
  target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endfunction()

# Programs and modules carry their runtime with them, so the prefix needs no extra DLLs.
function(orvex_static_runtime target)
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
endfunction()
