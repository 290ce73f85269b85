# cmake -DOBJECTS=<object files> -DOBJDUMP=<i686-w64-mingw32-objdump> -P check_sse_only.cmake
#
# The plug-ins' own float arithmetic runs on SSE, never on the x87 unit, whose 80-bit
# registers would round differently from the Linux build. Fails when the code of the
# given object files holds an x87 arithmetic instruction. (x87 loads and stores remain:
# the 32-bit calling convention returns a float in the x87 register st(0).)
cmake_minimum_required(VERSION 3.20)
set(x87Arithmetic "f(add|sub|subr|mul|div|divr|sqrt|sin|cos|sincos|prem|prem1|patan|ptan|2xm1|yl2x|yl2xp1|scale|rndint|iadd|isub|imul|idiv)p?[sl]?")
set(failures "")
foreach(object IN LISTS OBJECTS)
  execute_process(COMMAND "${OBJDUMP}" -d "${object}" OUTPUT_VARIABLE code RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} failed on ${object}")
  endif()
  string(REGEX MATCHALL "\t${x87Arithmetic} [^\n]*" found "${code}")
  if(found)
    get_filename_component(name "${object}" NAME)
    list(GET found 0 first)
    string(STRIP "${first}" first)
    list(APPEND failures "${name}: x87 arithmetic (${first})")
  endif()
endforeach()
if(failures)
  string(REPLACE ";" "\n  " failures "${failures}")
  message(FATAL_ERROR "x87 arithmetic in:\n  ${failures}")
endif()
list(LENGTH OBJECTS count)
message(STATUS "${count} object files, no x87 arithmetic")
