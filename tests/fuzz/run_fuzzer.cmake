# Runs one fuzz target for a while on a fresh scratch copy of its committed starting corpus, so the
# committed corpus never changes; crash inputs land in the build directory.
# Expects FUZZER, SEEDS, SCRATCH, ARTIFACTS and SECONDS.
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH} ${ARTIFACTS})
file(COPY ${SEEDS}/ DESTINATION ${SCRATCH})
execute_process(
    COMMAND ${FUZZER} -max_total_time=${SECONDS} -print_final_stats=1
            -artifact_prefix=${ARTIFACTS}/ ${SCRATCH}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${FUZZER} stopped with ${result}; see ${ARTIFACTS}")
endif()
