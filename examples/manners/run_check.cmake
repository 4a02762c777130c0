# Generate, run, check: fails on any step's failure.
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${GEN} ${GUESTS} OUTPUT_FILE ${WORK}/data.fct
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "generator failed: ${rc}")
endif()
execute_process(COMMAND ${RUN} ${WORK}/data.fct OUTPUT_FILE ${WORK}/output.txt
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "manners failed: ${rc}")
endif()
execute_process(COMMAND ${CHECK} ${WORK}/data.fct ${WORK}/output.txt
  RESULT_VARIABLE rc OUTPUT_VARIABLE checked ERROR_VARIABLE problem)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "checker: ${problem}")
endif()
message(STATUS "${checked}")
