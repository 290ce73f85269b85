# Fails unless LIBRARY's dynamic symbol table defines exactly the frei0r API functions.
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
set(want f0r_construct f0r_deinit f0r_destruct f0r_get_param_info f0r_get_param_value
  f0r_get_plugin_info f0r_init f0r_set_param_value f0r_update f0r_update2)
if(NOT names STREQUAL want)
  message(FATAL_ERROR "${LIBRARY} exports: ${names}")
endif()
