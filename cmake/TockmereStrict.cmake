# Warnings are errors on both compilers; every target of ours calls tockmere_strict().
function(tockmere_strict target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
