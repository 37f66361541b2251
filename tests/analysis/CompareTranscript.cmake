# Runs lksim on one scenario and compares its transcript with the expected one, byte for byte.
# Usage: cmake -DLKSIM=<exe> -DSCENARIO=<json> -DEXPECTED=<jsonl> [-DACTUAL=<file>] -P this file.
execute_process(COMMAND ${LKSIM} ${SCENARIO}
                OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "lksim exited with ${status}: ${errors}")
endif()
if(NOT EXISTS ${EXPECTED})
  message(FATAL_ERROR "no expected transcript ${EXPECTED}; lksim printed:\n${actual}")
endif()
file(READ ${EXPECTED} expected)
if(NOT actual STREQUAL expected)
  if(ACTUAL)
    file(WRITE ${ACTUAL} "${actual}")
  endif()
  message(FATAL_ERROR "transcript differs from ${EXPECTED}\n--- printed:\n${actual}")
endif()
