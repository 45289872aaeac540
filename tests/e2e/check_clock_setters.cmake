# Fails unless the end-to-end variant references none of the system's clock setters and the
# product references at least one, as read from the programs' import or dynamic symbol lists.
cmake_minimum_required(VERSION 3.25)
# cmake "-DLISTING=<tool;args>" "-DSETTERS=<names>" -DVARIANT=<exe> -DPRODUCT=<exe> -P this file

function(setters_in exe out)
    execute_process(COMMAND ${LISTING} ${exe} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${LISTING} ${exe} failed: ${status}")
    endif()
    set(found "")
    foreach(name IN LISTS SETTERS)
        # A whole word: SetLocalTime must not match inside GetSetLocalTimeSomething.
        if(listing MATCHES "(^|[^A-Za-z0-9_])${name}([^A-Za-z0-9_]|$)")
            list(APPEND found ${name})
        endif()
    endforeach()
    set(${out} "${found}" PARENT_SCOPE)
endfunction()

setters_in(${PRODUCT} product_setters)
setters_in(${VARIANT} variant_setters)
message(STATUS "product: ${product_setters}; end-to-end variant: ${variant_setters}")
if(NOT product_setters)
    message(FATAL_ERROR "the listing shows no clock setter in the product ${PRODUCT}: "
                        "the check cannot see them")
endif()
if(variant_setters)
    message(FATAL_ERROR "${VARIANT} can set the clock through: ${variant_setters}")
endif()
