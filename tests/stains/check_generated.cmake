# cmake -DGENERATOR=<program> -DOUTPUT=<file> -DEXPECTED=<file> -P check_generated.cmake
#
# Runs a table generator and fails unless it writes exactly the checked-in file.
execute_process(COMMAND "${GENERATOR}" "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${GENERATOR} failed: ${status}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUTPUT}" "${EXPECTED}"
                RESULT_VARIABLE different)
if(different)
  message(FATAL_ERROR "${OUTPUT} differs from ${EXPECTED}")
endif()
