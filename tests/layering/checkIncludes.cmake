# Compiles one-line sources, each including one header, with the include
# directories a unit's library is built with, and checks which of them the
# compiler finds.
#   cmake -DCOMPILER=... -DINCLUDES=<dirs> -DWORK=<dir>
#         -DALLOWED=<headers> -DREFUSED=<headers> -P checkIncludes.cmake
# A refused header must fail for the one reason that it is not on the path,
# not for some other compile error.
cmake_minimum_required(VERSION 3.20)

set(flags -std=c++20 -fsyntax-only)
foreach(dir IN LISTS INCLUDES)
  list(APPEND flags "-I${dir}")
endforeach()
file(MAKE_DIRECTORY "${WORK}")

set(failures "")
function(try_include header outcome_var output_var)
  string(MAKE_C_IDENTIFIER "${header}" stem)
  set(probe "${WORK}/${stem}.cc")
  file(WRITE "${probe}" "#include \"${header}\"\n")
  execute_process(COMMAND "${COMPILER}" ${flags} "${probe}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${outcome_var} "${result}" PARENT_SCOPE)
  set(${output_var} "${out}${err}" PARENT_SCOPE)
endfunction()

foreach(header IN LISTS ALLOWED)
  try_include("${header}" result output)
  if(NOT result EQUAL 0)
    string(APPEND failures "  ${header} should be found, but:\n${output}\n")
  endif()
endforeach()

foreach(header IN LISTS REFUSED)
  try_include("${header}" result output)
  string(REPLACE "." "\\." pattern "${header}")
  if(result EQUAL 0)
    string(APPEND failures "  ${header} should be out of reach, but it compiled\n")
  elseif(NOT output MATCHES "${pattern}'?:? (No such file or directory|file not found)")
    string(APPEND failures "  ${header} failed for another reason:\n${output}\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "include boundary broken:\n${failures}")
endif()
message(STATUS "allowed: ${ALLOWED}; refused: ${REFUSED}")
