# Each unit's library exports an include directory that holds its own folder
# and nothing else: a generated directory with a link named after the unit
# ("diag", "support/threads") to the unit's sources. "#include "diag/traceLog.h""
# reads as before, but a unit sees only the units it links, so an include
# that points up the layers (cache reaching into service) does not compile.

# The generated include directory of `unit` (its folder below the source root).
function(lc_unit_include_root unit out_var)
  string(REPLACE "/" "_" flat "${unit}")
  set(${out_var} "${CMAKE_BINARY_DIR}/unitInclude/${flat}" PARENT_SCOPE)
endfunction()

# lc_unit_headers(<target> <PUBLIC|INTERFACE> <unit folder>)
# Gives `target` the include directory of `unit`, made on first use.
function(lc_unit_headers target scope unit)
  lc_unit_include_root("${unit}" root)
  set(link "${root}/${unit}")
  get_filename_component(sources "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../${unit}" ABSOLUTE)
  set(current "")
  if(IS_SYMLINK "${link}")
    file(READ_SYMLINK "${link}" current)
  endif()
  # A build tree configured from another checkout is pointed at this one.
  if(NOT current STREQUAL sources)
    get_filename_component(parent "${link}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    file(REMOVE "${link}")
    file(CREATE_LINK "${sources}" "${link}" SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} "${root}")
endfunction()

# lc_unit_library(<target> <unit folder> <source>...)
# A unit's static library: its sources, its own include directory and the
# project's warnings. The caller links what the unit needs.
function(lc_unit_library target unit)
  add_library(${target} STATIC ${ARGN})
  lc_unit_headers(${target} PUBLIC ${unit})
  target_link_libraries(${target} PRIVATE lc_warnings)
endfunction()
