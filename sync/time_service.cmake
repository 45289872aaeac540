# The time service's address, generated from the build setting into the core's include path.
if(NOT TOCKMERE_TIME_SERVICE_HOST MATCHES "^([A-Za-z0-9._-]+|\\[[0-9A-Fa-f:.]+\\])(:[0-9]+)?$")
    message(FATAL_ERROR "TOCKMERE_TIME_SERVICE_HOST must be a host or host:port, "
                        "not '${TOCKMERE_TIME_SERVICE_HOST}'")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/time_service.h.in
               ${PROJECT_BINARY_DIR}/generated/sync/time_service.h @ONLY)
target_include_directories(tockmere_core PUBLIC ${PROJECT_BINARY_DIR}/generated)
