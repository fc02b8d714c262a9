# Runs one fuzz target for a short, bounded time on a scratch copy of its seed
# corpus, so new inputs and crash files land in the build tree, never in fuzz/.
#   cmake -DFUZZER=<binary> -DCORPUS=<seed dir> -DWORK=<scratch dir>
#         [-DSECONDS=15] [-DRUNS=5000000] -P RunFuzzer.cmake
if(NOT EXISTS "${FUZZER}")
  message("SKIPPED: ${FUZZER} is not built (make fuzz builds it)")
  return()
endif()
if(NOT SECONDS)
  set(SECONDS 15)
endif()
if(NOT RUNS)
  set(RUNS 5000000)
endif()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
if(IS_DIRECTORY "${CORPUS}")
  file(COPY "${CORPUS}/" DESTINATION "${WORK}/corpus")
endif()
execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -runs=${RUNS} -timeout=10 -rss_limit_mb=2048 -max_len=8192
          -artifact_prefix=${WORK}/artifacts/ -print_final_stats=1 "${WORK}/corpus"
  WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${rc}); the failing input is in ${WORK}/artifacts")
endif()
