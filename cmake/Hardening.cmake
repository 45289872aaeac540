# Hardened programs. On Linux as Debian builds its packages: position-independent executables,
# full RELRO (relocations read-only, symbols bound at start), the strong stack protector, and
# glibc's checked functions (_FORTIFY_SOURCE=2) wherever the optimiser runs. With MinGW: ASLR
# with high-entropy addresses and DEP, which binutils 2.40 sets by default; named here so that
# an older or differently configured linker cannot drop them. Sanitizer and fuzz builds keep
# their own instrumentation.
if(TOCKMERE_SANITIZE OR TOCKMERE_FUZZ)
    return()
endif()

if(MINGW)
    add_link_options(-Wl,--dynamicbase,--high-entropy-va,--nxcompat)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    include(CheckPIESupported)
    check_pie_supported()
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
    # The checked functions need the optimiser's object sizes; at -O0 glibc warns and we fail.
    set(tockmere_optimised $<NOT:$<CONFIG:Debug>>)
    add_compile_options($<${tockmere_optimised}:-U_FORTIFY_SOURCE>
                        $<${tockmere_optimised}:-D_FORTIFY_SOURCE=2>)
    add_link_options(-Wl,-z,relro,-z,now)
endif()
