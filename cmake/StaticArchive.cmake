# Makes the client's static archive for modules that link statically: every
# object of the client and the pipe encryption joined into one relocatable
# object, in which each strong global name but the client's interface is made
# local, as the shared library's version script does for it. Weak names
# (inline and template code of the C++ library) stay as they are, so that the
# linker can still merge them with the host program's own copies.
#
# cmake -DLD=... -DNM=... -DOBJCOPY=... -DAR=... -DOUTPUT=lib.a
#       -DOBJECTS="a.o|b.o" -DARCHIVES="x.a|y.a" -P StaticArchive.cmake
# (the lists are joined with "|": a ";" would split the argument itself)
foreach(variable LD NM OBJCOPY AR OUTPUT OBJECTS ARCHIVES)
  if(NOT DEFINED ${variable} OR "${${variable}}" STREQUAL "")
    message(FATAL_ERROR "StaticArchive.cmake: ${variable} is not set")
  endif()
endforeach()
string(REPLACE "|" ";" OBJECTS "${OBJECTS}")
string(REPLACE "|" ";" ARCHIVES "${ARCHIVES}")

# The names the shared library exports (logoffcookie.map), as nm prints them.
set(interface_names
  "^logoffCookieClient_"
  "^_ZN12logoffcookie14cookieIsCached"
  "^_ZN12logoffcookie10addToCache"
  "^_ZN12logoffcookie15exchangePayload"
  "^_ZN12logoffcookie11currentTime"
  "^_ZN12logoffcookie6Cookie"
  "^_ZNK?12logoffcookie12ClientStatus")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}: ${result}\n${errors}")
  endif()
  set(run_output "${output}" PARENT_SCOPE)
endfunction()

set(joined "${OUTPUT}.o")
run(${LD} -r -o ${joined} ${OBJECTS} --whole-archive ${ARCHIVES} --no-whole-archive)

run(${NM} --defined-only --extern-only ${joined})
string(REPLACE "\n" ";" lines "${run_output}")
set(private_names "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; strong definitions have types T, D, B, R, G, S.
  if(NOT line MATCHES "^[0-9a-fA-F]+ ([TDBRGS]) (.+)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_2}")
  set(public FALSE)
  foreach(pattern IN LISTS interface_names)
    if(name MATCHES "${pattern}")
      set(public TRUE)
    endif()
  endforeach()
  if(NOT public)
    string(APPEND private_names "${name}\n")
  endif()
endforeach()
file(WRITE "${OUTPUT}.private" "${private_names}")
run(${OBJCOPY} --localize-symbols=${OUTPUT}.private ${joined})

file(REMOVE ${OUTPUT})
run(${AR} rcs ${OUTPUT} ${joined})
file(REMOVE ${joined} "${OUTPUT}.private")
