# Partially links object files into one object whose only global symbols are
# the names of a version script's "global:" section, so that a static archive
# of it puts none of its internal names in a user's way:
#
#   cmake -DLD=ld -DNM=nm -DOBJCOPY=objcopy -DEXPORTS=lib.map
#         -DOBJECTS=objects.txt -DOUTPUT=lib.o -P VxSealObjects.cmake
#
# OBJECTS lists the input objects, one a line. Weak and unique symbols (C++
# template and inline code and data in COMDAT groups, all with mangled names)
# stay global: the linker merges such copies by name, and a local one whose
# group is discarded for a user's copy would leave dangling references.
cmake_minimum_required(VERSION 3.25)
foreach(var LD NM OBJCOPY EXPORTS OBJECTS OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "VxSealObjects: ${var} not given")
  endif()
endforeach()

file(READ ${EXPORTS} map)
if(NOT map MATCHES "global:([^}]*)local:")
  message(FATAL_ERROR "VxSealObjects: no global: ... local: section in ${EXPORTS}")
endif()
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" exports "${CMAKE_MATCH_1}")

file(STRINGS ${OBJECTS} objects)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "VxSealObjects: ${command}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# Defined global symbols as "type name" lines.
function(global_symbols object result)
  run(${NM} --defined-only --extern-only --format=posix ${object})
  string(REGEX REPLACE "\n$" "" out "${out}")
  string(REPLACE "\n" ";" lines "${out}")
  set(${result} ${lines} PARENT_SCOPE)
endfunction()

set(partial ${OUTPUT}.partial)
run(${LD} -r -o ${partial} ${objects})

global_symbols(${partial} lines)
set(keep ${exports})
foreach(line ${lines})
  if(line MATCHES "^([^ ]+) ([WVu]) ")
    list(APPEND keep ${CMAKE_MATCH_1})
  endif()
endforeach()
list(JOIN keep "\n" keep_text)
file(WRITE ${OUTPUT}.keep "${keep_text}\n")
run(${OBJCOPY} --keep-global-symbols=${OUTPUT}.keep ${partial} ${OUTPUT})
file(REMOVE ${partial})

# Every exported name is defined, and no other strong global is left.
global_symbols(${OUTPUT} lines)
set(defined)
foreach(line ${lines})
  if(line MATCHES "^([^ ]+) ([WVu]) ")
    continue()
  endif()
  string(REGEX REPLACE " .*" "" name "${line}")
  list(FIND exports ${name} index)
  if(index EQUAL -1)
    message(FATAL_ERROR "VxSealObjects: ${name} is still global in ${OUTPUT}")
  endif()
  list(APPEND defined ${name})
endforeach()
foreach(name ${exports})
  if(NOT name IN_LIST defined)
    file(REMOVE ${OUTPUT})
    message(FATAL_ERROR "VxSealObjects: ${name} of ${EXPORTS} is not defined by the objects")
  endif()
endforeach()
