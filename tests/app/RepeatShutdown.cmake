# Runs the shutdown program again and again, each time pressing Exit at
# another point of the update (during the loader stage, at and between the
# polls of the wait); every run must end with its verdict line.
# -DPROGRAM=path -DROUNDS=n
foreach(round RANGE 1 ${ROUNDS})
  math(EXPR delay "(${round} * 137) % 1400")
  set(ENV{KESTROVA_EXIT_DELAY_MS} ${delay})
  execute_process(COMMAND ${PROGRAM} OUTPUT_VARIABLE out ERROR_VARIABLE err
                  RESULT_VARIABLE rc TIMEOUT 30)
  if(NOT out MATCHES "SHUTDOWN-OK unfinished=yes log=yes settings=yes")
    message(FATAL_ERROR "round ${round} (Exit after ${delay} ms) ended with ${rc}:\n${out}\n${err}")
  endif()
endforeach()
message(STATUS "${ROUNDS} rounds ended soundly")
