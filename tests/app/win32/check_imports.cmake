# Fails unless the program imports Windows' own DLLs only (no compiler runtime beside the .exe).
cmake_minimum_required(VERSION 3.25)
# cmake -DOBJDUMP=<x86_64-w64-mingw32-objdump> -DEXE=<program.exe> -P check_imports.cmake
set(windows_own
    kernel32.dll user32.dll gdi32.dll comctl32.dll wininet.dll msvcrt.dll advapi32.dll
    shell32.dll ole32.dll uxtheme.dll ws2_32.dll)

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed: ${status}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${listing}")
if(NOT lines)
    message(FATAL_ERROR "no imports listed for ${EXE}")
endif()
set(foreign "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "DLL Name: *" "" dll "${line}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll_lower)
    # The C runtime's API sets (api-ms-win-crt-*) belong to Windows as well.
    if(NOT dll_lower IN_LIST windows_own AND NOT dll_lower MATCHES "^api-ms-win-")
        list(APPEND foreign "${dll}")
    endif()
    message(STATUS "imports ${dll}")
endforeach()
if(foreign)
    message(FATAL_ERROR "${EXE} needs DLLs that Windows does not have: ${foreign}")
endif()
