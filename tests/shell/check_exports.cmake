# Fails unless LIBRARY's dynamic symbol table defines exactly the names in EXPECTED (a
# ;-list, in any order), and nothing else.
execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
  OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
  list(APPEND names "${name}")
endforeach()
list(SORT names)
set(want ${EXPECTED})
list(SORT want)
if(NOT names STREQUAL want)
  message(FATAL_ERROR "${LIBRARY} exports: ${names}")
endif()
