# Writes the gain table afresh and compares it byte for byte with the shipped one.
execute_process(COMMAND ${GENERATOR} ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "make_digpot failed: ${result}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${REFERENCE} RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "${REFERENCE} differs from the generated table ${OUTPUT}; regenerate it with make_digpot")
endif()

# A FIFO named as the output takes the table as it comes and stays a FIFO (a file renamed
# over it would take its place, and over a device such as /dev/full, the device's).
set(FIFO ${OUTPUT}.fifo)
file(REMOVE ${FIFO})
execute_process(COMMAND mkfifo ${FIFO} RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "cannot make the FIFO ${FIFO}")
endif()
execute_process(COMMAND ${GENERATOR} ${FIFO}
                COMMAND timeout 20 cat ${FIFO}
                OUTPUT_VARIABLE piped RESULTS_VARIABLE results)
execute_process(COMMAND test -p ${FIFO} RESULT_VARIABLE still_fifo)
file(REMOVE ${FIFO})
file(READ ${REFERENCE} reference)
if(NOT results STREQUAL "0;0" OR NOT still_fifo EQUAL 0 OR NOT piped STREQUAL reference)
  message(FATAL_ERROR "make_digpot into a FIFO: results ${results}, still a FIFO: ${still_fifo}")
endif()
