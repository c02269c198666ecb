# Makes the client's static archive for modules that link statically: the
# client's objects, and those of the pipe encryption and diagnostics they
# need (no others), joined into one relocatable object in which every name
# but the client's interface is made local, as the shared library's version
# script does for it. That includes weak names (inline and template code)
# and unique ones (inline variables): exported from a module they would bind
# to other modules' copies, and a unique one keeps the module from ever being
# unloaded. Their COMDAT groups are dissolved first, so that a host
# program's own copy of such code never replaces ours at link time.
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
# Archive members are taken only as the client's objects need them.
run(${LD} -r -o ${joined} ${OBJECTS} --start-group ${ARCHIVES} --end-group)
run(${OBJCOPY} --remove-section=.group ${joined})

run(${NM} --defined-only --extern-only ${joined})
string(REPLACE "\n" ";" lines "${run_output}")
set(private_names "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>": strong definitions T, D, B, R, G, S; weak W,
  # V; unique u. Only strong interface names stay: an inline one (weak) is
  # compiled into the module from the header anyway.
  if(NOT line MATCHES "^[0-9a-fA-F]+ ([TDBRGSWVu]) (.+)$")
    continue()
  endif()
  set(type "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_2}")
  set(public FALSE)
  foreach(pattern IN LISTS interface_names)
    if(name MATCHES "${pattern}" AND type MATCHES "[TDBRGS]")
      set(public TRUE)
    endif()
  endforeach()
  if(NOT public)
    string(APPEND private_names "${name}\n")
  endif()
endforeach()
file(WRITE "${OUTPUT}.private" "${private_names}")
# objcopy makes no unique name local: weakened first, each one can be.
run(${OBJCOPY} --weaken-symbols=${OUTPUT}.private ${joined})
run(${OBJCOPY} --localize-symbols=${OUTPUT}.private ${joined})

file(REMOVE ${OUTPUT})
run(${AR} rcs ${OUTPUT} ${joined})
file(REMOVE ${joined} "${OUTPUT}.private")
