# cmake -DLIBRARY=<Name.dll> -DOBJDUMP=<i686-w64-mingw32-objdump> -P check_dll.cmake
#
# What a 32-bit Windows FreeFrame host needs from a plug-in DLL, read from the file:
# - the export table names plugMain and nothing else, undecorated;
# - the DLL imports only system libraries (KERNEL32, msvcrt, USER32), so it loads from a
#   host's plug-in folder with no compiler runtime DLL beside it, and USER32's
#   MessageBoxA is among the imports (the frame errors are shown with it);
# - plugMain uses the standard calling convention: every return in its code pops the
#   12 bytes of its three arguments ("ret $0xc"). A hidden result pointer (a union
#   returned in memory instead of EAX) would show as "ret $0x10"; a caller-cleans
#   function returns with a bare "ret".

cmake_minimum_required(VERSION 3.20)

# objdump's output as a CMake list of lines. Brackets and semicolons would upset list
# handling, so they become <, > and commas first.
function(objdump_lines option out)
  execute_process(COMMAND "${OBJDUMP}" ${option} "${LIBRARY}"
    OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} ${option} failed on ${LIBRARY}")
  endif()
  string(REPLACE "[" "<" text "${text}")
  string(REPLACE "]" ">" text "${text}")
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

objdump_lines(-p lines)

# Export names: the lines after "[Ordinal/Name Pointer] Table" up to a blank line.
set(exports "")
set(inExports FALSE)
set(imports "")
set(user32Names "")
set(currentDll "")
foreach(line IN LISTS lines)
  if(line MATCHES "^<Ordinal/Name Pointer> Table")
    set(inExports TRUE)
  elseif(inExports)
    if(line MATCHES "^\t< *[0-9]+> (.+)$")
      list(APPEND exports "${CMAKE_MATCH_1}")
    elseif(line STREQUAL "")
      set(inExports FALSE)
    endif()
  endif()
  if(line MATCHES "^\tDLL Name: (.+)$")
    string(TOUPPER "${CMAKE_MATCH_1}" currentDll)
    list(APPEND imports "${currentDll}")
  elseif(currentDll STREQUAL "USER32.DLL" AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+ +([A-Za-z0-9_]+)")
    list(APPEND user32Names "${CMAKE_MATCH_1}")
  elseif(line STREQUAL "")
    set(currentDll "")
  endif()
endforeach()

set(failures "")
if(NOT exports STREQUAL "plugMain")
  string(REPLACE ";" "," exportNames "${exports}")
  list(APPEND failures "exports: '${exportNames}' (want exactly plugMain)")
endif()
foreach(dll IN LISTS imports)
  if(NOT dll MATCHES "^(KERNEL32|MSVCRT|USER32)\\.DLL$")
    list(APPEND failures "imports ${dll}")
  endif()
endforeach()
if(NOT "MessageBoxA" IN_LIST user32Names)
  list(APPEND failures "no import of USER32.dll!MessageBoxA (USER32 imports: '${user32Names}')")
endif()

# plugMain's code: the function (decorated plugMain@<argument bytes> when it pops its
# arguments) and any part split off from it (plugMain@12.cold).
objdump_lines(-d lines)
set(inPlugMain FALSE)
set(returns "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-f]+ <([^>]+)>:$")
    if(CMAKE_MATCH_1 MATCHES "^_?plugMain(@[0-9]+)?(\\.cold)?$")
      set(inPlugMain TRUE)
    else()
      set(inPlugMain FALSE)
    endif()
  elseif(inPlugMain AND line MATCHES "\t(ret[lw]?)( +\\$0x[0-9a-f]+)?$")
    string(STRIP "${CMAKE_MATCH_1}${CMAKE_MATCH_2}" instruction)
    string(REGEX REPLACE " +" " " instruction "${instruction}")
    list(APPEND returns "${instruction}")
  endif()
endforeach()
if(returns STREQUAL "")
  list(APPEND failures "no plugMain code with a return found")
endif()
foreach(instruction IN LISTS returns)
  if(NOT instruction STREQUAL "ret $0xc")
    list(APPEND failures "plugMain returns with '${instruction}' (want 'ret $0xc')")
  endif()
endforeach()

if(failures)
  string(REPLACE ";" "\n  " failures "${failures}")
  message(FATAL_ERROR "${LIBRARY}:\n  ${failures}")
endif()
list(LENGTH returns count)
message(STATUS "${LIBRARY}: exports plugMain only; imports ${imports}; ${count} return(s), all 'ret $0xc'")
