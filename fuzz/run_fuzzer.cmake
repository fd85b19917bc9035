# Runs one fuzzer for SECONDS seconds on a fresh copy of its seed corpus.
#   cmake -DFUZZER=exe -DSEEDS=dir -DWORK=dir -DSECONDS=n -P run_fuzzer.cmake
# New inputs go to WORK/corpus, a crash, leak or timeout input to WORK/; the
# test fails when the fuzzer stops with a finding.
foreach(var FUZZER SEEDS WORK SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_fuzzer.cmake: ${var} is not set")
  endif()
endforeach()
if(NOT IS_DIRECTORY "${SEEDS}")
  message(FATAL_ERROR "no seed corpus at ${SEEDS}")
endif()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(COPY "${SEEDS}/" DESTINATION "${WORK}/corpus")

# -timeout: no single input may take 5 s; -close_fd_mask=1: the
# program's own output is not wanted, libFuzzer reports on stderr.
execute_process(
  COMMAND "${FUZZER}" "${WORK}/corpus"
          -max_total_time=${SECONDS} -timeout=5 -max_len=4096
          -close_fd_mask=1 -print_final_stats=1
          -artifact_prefix=${WORK}/
  WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(GLOB findings "${WORK}/crash-*" "${WORK}/leak-*" "${WORK}/timeout-*"
       "${WORK}/oom-*" "${WORK}/slow-unit-*")
  message(FATAL_ERROR "${FUZZER} stopped with ${rc}; inputs: ${findings}\n"
          "Reproduce with: ${FUZZER} <input>")
endif()
