# quenlo, started with LD_LIBRARY_PATH naming the comedi board library's folder, loads
# that library and not the simulated one it was linked against (its RUNPATH must not be
# an old-style RPATH, which would win over LD_LIBRARY_PATH).
foreach(var QUENLO COMEDI_DIR SIM_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not given")
  endif()
endforeach()

execute_process(COMMAND readelf -d ${QUENLO} OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${QUENLO}")
endif()
if(dynamic MATCHES "\\(RPATH\\)")
  message(FATAL_ERROR "quenlo carries DT_RPATH, which LD_LIBRARY_PATH cannot override:\n${dynamic}")
endif()

function(resolved_board_library out)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${ARGN} ldd ${QUENLO}
                  OUTPUT_VARIABLE libs RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ldd failed on ${QUENLO}")
  endif()
  string(REGEX MATCH "libcbw32\\.so => ([^ ]+)" line "${libs}")
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

resolved_board_library(with_comedi LD_LIBRARY_PATH=${COMEDI_DIR})
if(NOT with_comedi STREQUAL "${COMEDI_DIR}/libcbw32.so")
  message(FATAL_ERROR "with LD_LIBRARY_PATH=${COMEDI_DIR} quenlo loads '${with_comedi}'")
endif()
resolved_board_library(plain --unset=LD_LIBRARY_PATH)
if(NOT plain STREQUAL "${SIM_DIR}/libcbw32.so")
  message(FATAL_ERROR "without LD_LIBRARY_PATH quenlo loads '${plain}', not the simulated board")
endif()
message(STATUS "quenlo loads ${with_comedi} with LD_LIBRARY_PATH, ${plain} without")
